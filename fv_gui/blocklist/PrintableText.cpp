#include "fv_gui/blocklist/PrintableText.h"

namespace fv {

namespace {

constexpr unsigned char kLastC1 = 0x9F;
constexpr unsigned char kC1Lead = 0xC2;  // U+0080-U+00BF: C2 80-BF

bool IsContinuation(unsigned char c) { return (c & 0xC0u) == 0x80u; }

// Length of the well-formed UTF-8 sequence at `text` (no overlong forms, surrogates or values
// above U+10FFFF), or 0.
std::size_t Utf8SequenceLength(const unsigned char* text, std::size_t length) {
    const unsigned char lead = text[0];
    std::size_t size;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (length < size || text[1] < low || text[1] > high) return 0;
    for (std::size_t i = 2; i < size; ++i) {
        if (!IsContinuation(text[i])) return 0;
    }
    return size;
}

}  // namespace

std::size_t ReplaceControlCharacters(char* text, std::size_t length) {
    unsigned char* const bytes = reinterpret_cast<unsigned char*>(text);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < length;) {
        const unsigned char c = bytes[i];
        if (c < kFirstPrintable || c == kDeleteCharacter) {
            bytes[kept++] = kControlReplacement;
            ++i;
        } else if (c < kDeleteCharacter) {
            bytes[kept++] = c;
            ++i;
        } else if (const std::size_t size = Utf8SequenceLength(bytes + i, length - i); size == 0) {
            bytes[kept++] = c <= kLastC1 ? kControlReplacement : c;
            ++i;
        } else if (c == kC1Lead && bytes[i + 1] <= kLastC1) {
            bytes[kept++] = kControlReplacement;
            i += size;
        } else {
            std::memmove(bytes + kept, bytes + i, size);
            kept += size;
            i += size;
        }
    }
    return kept;
}

}  // namespace fv
