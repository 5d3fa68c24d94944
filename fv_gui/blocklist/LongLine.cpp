#include "fv_gui/blocklist/LongLine.h"

#include <algorithm>
#include <cstring>

namespace fv {

namespace {

// Copies what still fits of `size` bytes to `buffer[length..capacity)`.
void Append(char* buffer, std::size_t& length, std::size_t capacity, const char* data,
            std::size_t size) {
    const std::size_t taken = std::min(size, capacity - length);
    std::memcpy(buffer + length, data, taken);
    length += taken;
}

}  // namespace

void LongLine::Feed(const char* data, std::size_t size) {
    if (size == 0) return;
    if (pendingCr_) {
        pendingCr_ = false;
        Take("\r", 1);
    }
    // Held back until it is known whether an LF follows.
    if (data[size - 1] == '\r') {
        pendingCr_ = true;
        --size;
    }
    Take(data, size);
}

std::optional<LongLine::Entry> LongLine::Finish(bool atLineFeed) {
    if (pendingCr_ && !atLineFeed) Take("\r", 1);
    std::optional<Entry> entry;
    if (colon_ && dash_) {
        entry = Entry{{head_, descriptionLength_},
                      {first_, firstLength_},
                      {last_, lastLength_}};
    }
    // The buffers stay as they are: the views point into them.
    headLength_ = 0;
    pendingCr_ = false;
    colon_ = false;
    descriptionLength_ = 0;
    sinceColon_ = 0;
    dash_ = false;
    firstLength_ = 0;
    lastLength_ = 0;
    return entry;
}

void LongLine::Take(const char* data, std::size_t size) {
    std::size_t i = 0;
    // While the head fills, every ':' may be the last one, and its place in the head counts.
    for (; i < size && headLength_ < kMaxDescriptionLength; ++i) {
        const char c = data[i];
        if (c == ':') {
            Colon();
        } else {
            AfterColon(&c, 1);
        }
        if (c != '\r') head_[headLength_++] = c;
    }
    if (i == size) return;
    // Then only what follows the last ':' matters.
    const char* rest = data + i;
    const char* const end = data + size;
    if (const void* colon = ::memrchr(rest, ':', static_cast<std::size_t>(end - rest))) {
        Colon();
        rest = static_cast<const char*>(colon) + 1;
    }
    AfterColon(rest, static_cast<std::size_t>(end - rest));
}

void LongLine::Colon() {
    colon_ = true;
    descriptionLength_ = headLength_;
    sinceColon_ = 0;
    dash_ = false;
}

void LongLine::AfterColon(const char* data, std::size_t size) {
    if (!colon_ || size == 0) return;
    const std::size_t before = sinceColon_;
    Append(first_, sinceColon_, kAddressTextLength, data, size);
    if (const void* found = ::memrchr(data, '-', size)) {
        const char* dash = static_cast<const char*>(found);
        dash_ = true;
        firstLength_ = std::min(kAddressTextLength, before + static_cast<std::size_t>(dash - data));
        lastLength_ = 0;
        size -= static_cast<std::size_t>(dash + 1 - data);
        data = dash + 1;
    }
    if (dash_) Append(last_, lastLength_, kAddressTextLength, data, size);
}

}  // namespace fv
