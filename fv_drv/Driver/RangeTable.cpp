#include "fv_drv/Driver/RangeTable.h"

int CompareAddressToRange(std::uint32_t key, const RangeEntry* entry) {
    if (key == entry->first) return 0;
    if (key > entry->first && key <= std::uint32_t(entry->first + entry->span)) return 0;
    if (key < entry->first) return -1;
    return 1;
}

const RangeEntry* FindRange(std::uint32_t key, const RangeEntry* entries, std::uint32_t count) {
    // The search keeps [low, low + n) as the candidates. Each probe takes mid at
    // low + (n - 1) / 2: the left part keeps (n - 1) / 2 entries, the right part n / 2.
    const RangeEntry* low = entries;
    std::uint32_t n = count;
    while (n > 1) {
        const std::uint32_t leftCount = (n - 1) / 2;
        const RangeEntry* mid = low + leftCount;
        // Fetch both possible next probes while this one is compared: on a large table each
        // probe is a cache miss, and this overlaps them.
        __builtin_prefetch(low + (leftCount == 0 ? 0 : (leftCount - 1) / 2));
        __builtin_prefetch(mid + 1 + (n / 2 - 1) / 2);
        const std::uint32_t first = mid->first;
        if (key == first || (key > first && key <= std::uint32_t(first + mid->span))) return mid;
        // Written as selects so that the compiler emits no branch on the key's side.
        const bool below = key < first;
        low = below ? low : mid + 1;
        n = below ? leftCount : n / 2;
    }
    if (n == 1 && CompareAddressToRange(key, low) == 0) return low;
    return nullptr;
}
