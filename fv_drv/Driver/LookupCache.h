// Remembers FindRange's answer for recently seen addresses of one adapter. A workstation talks
// to a few hundred addresses at a time, and a hit replaces a bisection (a chain of dependent
// loads through a table of up to 4 MB) with one load. The answers are FindRange's own, so
// overlapping tables behave exactly as without the cache.
#pragma once

#include <cstdint>

#include "fv_drv/Driver/RangeTable.h"

// Two-way sets, so that two busy addresses that hash alike do not evict each other.
inline constexpr std::uint32_t kLookupCacheBits = 12;
inline constexpr std::uint32_t kLookupCacheSets = 1u << kLookupCacheBits;
inline constexpr std::uint32_t kLookupCacheWays = 2;

struct LookupCache {
    struct Slot {
        std::uint32_t key;
        std::uint32_t answer;  // 0 empty; else kFilled | (entry index + 1, or 0 for none)
    };
    static constexpr std::uint32_t kFilled = 0x80000000;

    const RangeTable* table = nullptr;  // the table the answers belong to
    Slot slots[kLookupCacheSets][kLookupCacheWays] = {};
};

// Forgets every answer; the cache now belongs to `table`.
void LookupCacheReset(LookupCache& cache, const RangeTable* table);

// FindRange over `table`, answered from the cache when it can be.
const RangeEntry* CachedFindRange(LookupCache& cache, const RangeTable* table, std::uint32_t key);
