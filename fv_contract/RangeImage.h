// The range table image the program uploads: count, entries sorted by first address, and four
// trailing bytes that are carried unread.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "the range table and the records are little-endian images");

struct RangeEntry {
    std::uint32_t first;  // host order
    std::uint32_t span;   // the entry holds first .. first + span
};
static_assert(sizeof(RangeEntry) == 8);

struct RangeTable {
    std::uint32_t count;
    // `count` RangeEntry follow, then the trailing bytes.
    const RangeEntry* Entries() const { return reinterpret_cast<const RangeEntry*>(this + 1); }
};
static_assert(sizeof(RangeTable) == 4);

// Size of the image for `count` entries (count, entries, trailing bytes).
inline constexpr std::uint64_t kRangeTableTrailerSize = 4;
constexpr std::uint64_t RangeTableImageSize(std::uint64_t count) {
    return sizeof(RangeTable) + count * sizeof(RangeEntry) + kRangeTableTrailerSize;
}
