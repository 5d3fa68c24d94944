// The range table image: count, sorted entries, four trailing bytes that are carried unread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PacketEventRecord.h"

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

// -1 below the entry, 0 inside it, +1 above it; 32-bit unsigned arithmetic throughout.
int CompareAddressToRange(std::uint32_t key, const RangeEntry* entry);

// Bisection with a fixed probe order; overlapping entries can hide an address.
const RangeEntry* FindRange(std::uint32_t key, const RangeEntry* entries, std::uint32_t count);
