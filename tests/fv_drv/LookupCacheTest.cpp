#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "fv_drv/Driver/FilterEngine.h"
#include "fv_drv/Driver/LookupCache.h"

namespace {

std::vector<std::uint8_t> Image(const std::vector<RangeEntry>& entries) {
    std::vector<std::uint8_t> image(RangeTableImageSize(entries.size()), 0);
    const std::uint32_t count = std::uint32_t(entries.size());
    std::memcpy(image.data(), &count, 4);
    std::memcpy(image.data() + 4, entries.data(), entries.size() * sizeof(RangeEntry));
    return image;
}

TEST(LookupCache, AnswersExactlyAsTheBisectionOnOverlappingTables) {
    std::mt19937 rng(99);
    std::vector<RangeEntry> entries;
    for (int i = 0; i < 300; ++i)
        entries.push_back({std::uint32_t(rng() % 5000), std::uint32_t(rng() % 300)});
    std::sort(entries.begin(), entries.end(),
              [](const RangeEntry& a, const RangeEntry& b) { return a.first < b.first; });
    auto image = Image(entries);
    auto* table = reinterpret_cast<RangeTable*>(image.data());
    auto cache = std::make_unique<LookupCache>();
    // Few keys, asked many times in random order: most answers come from the cache.
    std::vector<std::uint32_t> keys;
    for (int i = 0; i < 400; ++i) keys.push_back(std::uint32_t(rng() % 5600));
    for (int round = 0; round < 20000; ++round) {
        const std::uint32_t key = keys[rng() % keys.size()];
        ASSERT_EQ(CachedFindRange(*cache, table, key),
                  FindRange(key, table->Entries(), table->count))
            << "key " << key;
    }
}

TEST(LookupCache, ANewTableAtTheSameAddressForgetsOldAnswers) {
    auto image = Image({{100, 10}});
    auto* table = reinterpret_cast<RangeTable*>(image.data());
    auto state = std::make_unique<FilterState>();
    FilterStateSetRanges(*state, table);
    EXPECT_NE(CachedFindRange(state->Lookups, table, 105), nullptr);
    EXPECT_EQ(CachedFindRange(state->Lookups, table, 205), nullptr);
    // Same storage, other contents, installed again.
    auto other = Image({{200, 10}});
    std::memcpy(image.data(), other.data(), image.size());
    EXPECT_EQ(FilterStateSetRanges(*state, table), table);
    EXPECT_EQ(CachedFindRange(state->Lookups, table, 105), nullptr);
    EXPECT_NE(CachedFindRange(state->Lookups, table, 205), nullptr);
}

}  // namespace
