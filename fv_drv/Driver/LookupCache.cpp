#include "fv_drv/Driver/LookupCache.h"

#include <cstring>

void LookupCacheReset(LookupCache& cache, const RangeTable* table) {
    std::memset(cache.slots, 0, sizeof cache.slots);
    cache.table = table;
}

const RangeEntry* CachedFindRange(LookupCache& cache, const RangeTable* table, std::uint32_t key) {
    // A table installed without a reset is caught here; tables are installed through
    // FilterStateSetRanges, which resets, so a new table at a freed table's address is too.
    if (cache.table != table) LookupCacheReset(cache, table);
    const RangeEntry* entries = table->Entries();
    LookupCache::Slot* set = cache.slots[(key * 0x9E3779B1u) >> (32 - kLookupCacheBits)];
    for (std::uint32_t way = 0; way < kLookupCacheWays; ++way) {
        if (set[way].answer != 0 && set[way].key == key) {
            const std::uint32_t index = set[way].answer & ~LookupCache::kFilled;
            return index == 0 ? nullptr : entries + (index - 1);
        }
    }
    const RangeEntry* found = FindRange(key, entries, table->count);
    // The newest answer goes first; the older one moves down and the oldest is dropped.
    for (std::uint32_t way = kLookupCacheWays - 1; way > 0; --way) set[way] = set[way - 1];
    set[0].key = key;
    set[0].answer =
        LookupCache::kFilled | (found == nullptr ? 0 : std::uint32_t(found - entries) + 1);
    return found;
}
