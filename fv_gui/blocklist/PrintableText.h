// Descriptions come from a file anyone may have written and end up in fvconns.log, which is
// read with `cat`, `less -R` and `tail -f` in terminals: a control character there would act
// on the terminal instead of being shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fv {

// The character written in place of a control character.
inline constexpr char kControlReplacement = '?';
// Printable ASCII runs from the space up to the character before DEL.
inline constexpr unsigned char kFirstPrintable = 0x20;
inline constexpr unsigned char kDeleteCharacter = 0x7F;

// True when the `length` bytes at `text` are printable ASCII only (0x20-0x7E). Runs for every
// blocklist line: inline, eight bytes at a time.
inline bool IsPrintableAscii(const char* text, std::size_t length) {
    if (length < 8) {
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c < kFirstPrintable || c >= kDeleteCharacter) return false;
        }
        return true;
    }
    // A byte below 0x20 borrows in `word - 0x20..`, DEL does in `(word ^ 0x7F..) - 0x01..`, and
    // a high byte has its top bit set. A borrow only spreads upwards from a byte that is not
    // printable, so the mask is clear exactly when all are. The last word may overlap the one
    // before it.
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kTops = 0x8080808080808080u;
    auto printable = [&](std::size_t at) {
        std::uint64_t word;
        std::memcpy(&word, text + at, sizeof word);
        return (((word - kOnes * kFirstPrintable) | word | ((word ^ (kOnes * kDeleteCharacter)) - kOnes)) &
                kTops) == 0;
    };
    for (std::size_t i = 0; i + 8 < length; i += 8) {
        if (!printable(i)) return false;
    }
    return printable(length - 8);
}

// Replaces control characters in place with kControlReplacement, one for each, and returns the
// new length (never more than `length`): C0 controls and DEL; a C1 control (U+0080-U+009F,
// among them CSI, OSC and DCS) encoded in UTF-8; and a byte 0x80-0x9F that is not part of a
// well-formed UTF-8 sequence, which 8-bit terminals take as a C1 control (0x9B is CSI). Other
// bytes stay as they are, UTF-8 characters and single high bytes of 0xA0 and above alike.
std::size_t ReplaceControlCharacters(char* text, std::size_t length);

}  // namespace fv
