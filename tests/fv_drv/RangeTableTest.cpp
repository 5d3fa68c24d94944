#include "fv_drv/Driver/RangeTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

const RangeEntry* Find(std::uint32_t key, const std::vector<RangeEntry>& t) {
    return FindRange(key, t.data(), std::uint32_t(t.size()));
}

TEST(CompareAddressToRange, BoundariesOfARange) {
    const RangeEntry e{100, 10};
    EXPECT_EQ(CompareAddressToRange(99, &e), -1);
    EXPECT_EQ(CompareAddressToRange(100, &e), 0);
    EXPECT_EQ(CompareAddressToRange(110, &e), 0);
    EXPECT_EQ(CompareAddressToRange(111, &e), 1);
    const RangeEntry single{7, 0};
    EXPECT_EQ(CompareAddressToRange(7, &single), 0);
    EXPECT_EQ(CompareAddressToRange(8, &single), 1);
    // The whole address space in one entry.
    const RangeEntry all{0, 0xFFFFFFFF};
    EXPECT_EQ(CompareAddressToRange(0, &all), 0);
    EXPECT_EQ(CompareAddressToRange(0xFFFFFFFF, &all), 0);
}

TEST(CompareAddressToRange, EndPastTheAddressSpaceWrapsIn32Bits) {
    // first + span overflows to 4: only the first address itself matches.
    const RangeEntry e{0xFFFFFFF0, 0x14};
    EXPECT_EQ(CompareAddressToRange(0xFFFFFFF0, &e), 0);
    EXPECT_EQ(CompareAddressToRange(0xFFFFFFF1, &e), 1);
}

TEST(FindRange, EmptyAndOneEntryTables) {
    std::vector<RangeEntry> none;
    EXPECT_EQ(Find(5, none), nullptr);
    std::vector<RangeEntry> one{{50, 5}};
    EXPECT_EQ(Find(49, one), nullptr);
    EXPECT_EQ(Find(50, one), &one[0]);
    EXPECT_EQ(Find(55, one), &one[0]);
    EXPECT_EQ(Find(56, one), nullptr);
}

TEST(FindRange, KeyAtFirstLastAndOnePastEveryEntry) {
    std::vector<RangeEntry> t;
    for (std::uint32_t i = 0; i < 37; ++i) t.push_back({i * 100, i % 5});
    for (std::uint32_t i = 0; i < t.size(); ++i) {
        EXPECT_EQ(Find(t[i].first, t), &t[i]);
        EXPECT_EQ(Find(t[i].first + t[i].span, t), &t[i]);
        EXPECT_EQ(Find(t[i].first + t[i].span + 1, t), nullptr);
    }
}

TEST(FindRange, OverlappingEntryCanHideAnAddress) {
    std::vector<RangeEntry> t{{10, 90}, {20, 10}, {40, 10}};
    EXPECT_EQ(Find(60, t), nullptr);
    EXPECT_EQ(Find(25, t), &t[1]);  // the middle probe comes first
    EXPECT_EQ(Find(15, t), &t[0]);
}

TEST(FindRange, ProbeOrderDecidesBetweenDuplicates) {
    // Four equal entries: the first probe is the second entry (index (4 - 1) / 2).
    std::vector<RangeEntry> t(4, RangeEntry{10, 0});
    EXPECT_EQ(Find(10, t), &t[1]);
    std::vector<RangeEntry> five(5, RangeEntry{10, 0});
    EXPECT_EQ(Find(10, five), &five[2]);
}

TEST(FindRange, SortedDisjointTablesFindExactlyTheCoveredAddresses) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        const std::uint32_t size = rng() % 70;
        std::vector<RangeEntry> t;
        std::uint32_t next = rng() % 8;
        for (std::uint32_t i = 0; i < size; ++i) {
            const std::uint32_t span = rng() % 4;
            t.push_back({next, span});
            next += span + 1 + rng() % 5;
        }
        for (std::uint32_t key = 0; key <= next + 2; ++key) {
            auto it = std::find_if(t.begin(), t.end(), [&](const RangeEntry& e) {
                return key >= e.first && key <= e.first + e.span;
            });
            const RangeEntry* want = it == t.end() ? nullptr : &*it;
            ASSERT_EQ(Find(key, t), want) << "round " << round << " key " << key;
        }
    }
}

}  // namespace
