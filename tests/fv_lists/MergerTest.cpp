#include "fv_lists/Merger.h"

#include <gtest/gtest.h>

#include "tests/fv_gui/TestFiles.h"
#include "tests/fv_lists/LoaderCheck.h"

namespace {

using namespace fv::lists;

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

struct Merged {
    fv::test::TempDir dir;
    MergeResult result;
    fv::test::LoadedList loaded;
    Merged(std::vector<std::pair<std::string, std::string>> lists, std::size_t maxRanges = MaxLoadedRanges()) {
        std::vector<ParsedList> parsed(lists.size());
        std::vector<MergeInput> inputs;
        for (std::size_t i = 0; i < lists.size(); ++i) {
            ParseList(lists[i].first, parsed[i]);
            inputs.push_back({&parsed[i], lists[i].second});
        }
        result = MergeLists(inputs, maxRanges);
        fv::test::WriteFile(dir / "merged.p2p", result.text);
        loaded = fv::test::LoadWithProgramLoader(dir / "merged.p2p", result.text);
    }
};

TEST(MergerTest, EveryLineLoadsWhateverTheDescription) {
    const Merged m({{"1.1.1.1\n"                         // no description: the label
                     "2.2.2.2 # x\n"                     // one character: padded to load
                     ":3.3.3.3-3.3.3.4\n"
                     "a:b - c:4.4.4.4-4.4.4.4\n"
                     "5.5.5.5 # " + std::string(300, 'L') + "\n",
                     ""},
                    {"6.6.6.6\n", "ads"}});
    ASSERT_TRUE(m.loaded.loaded);
    EXPECT_EQ(m.result.ranges, 6u);
    EXPECT_EQ(m.loaded.lines, 6u);
    EXPECT_EQ(m.loaded.ranges, 6);
    EXPECT_EQ(m.loaded.Name(Ip(1, 1, 1, 1)), "blocklist");
    EXPECT_EQ(m.loaded.Name(Ip(2, 2, 2, 2)).substr(0, 1), "x");
    EXPECT_EQ(m.loaded.Name(Ip(4, 4, 4, 4)), "a:b - c");
    EXPECT_EQ(m.loaded.Name(Ip(5, 5, 5, 5)), std::string(48, 'L') + "...");
    EXPECT_EQ(m.loaded.Name(Ip(6, 6, 6, 6)), "ads");
    EXPECT_FALSE(m.result.joined);
}

TEST(MergerTest, OverTheLimitOverlappingAndAdjacentRangesAreJoined) {
    // Five ranges, three groups: 10.0.0.0-10.0.0.20 (overlap and adjacency), 20.0.0.0 and the top
    // of the address space.
    const Merged m({{"first:10.0.0.0-10.0.0.9\nsecond:20.0.0.0-20.0.0.0\n", ""},
                    {"third:10.0.0.10-10.0.0.15\nfourth:10.0.0.5-10.0.0.20\n"
                     "top:255.255.255.0-255.255.255.255\nunder:255.255.255.255-255.255.255.255\n",
                     ""}},
                   4);
    ASSERT_TRUE(m.loaded.loaded);
    EXPECT_TRUE(m.result.joined);
    EXPECT_EQ(m.result.dropped, 0u);
    EXPECT_EQ(m.result.ranges, 3u);
    ASSERT_EQ(m.loaded.entries.size(), 3u);
    EXPECT_EQ(m.loaded.entries[0].first, Ip(10, 0, 0, 0));
    EXPECT_EQ(m.loaded.entries[0].span, 20u);
    EXPECT_EQ(m.loaded.Name(Ip(10, 0, 0, 18)), "first");
    EXPECT_EQ(m.loaded.entries[2].span, 255u);
}

TEST(MergerTest, StillTooManyAfterJoiningIsCountedNotSilent) {
    const Merged m({{"1.0.0.1\n1.0.0.3\n1.0.0.5\n1.0.0.7\n1.0.0.9\n", "x"}}, 3);
    EXPECT_TRUE(m.result.joined);
    EXPECT_EQ(m.result.ranges, 3u);
    EXPECT_EQ(m.result.dropped, 2u);
    EXPECT_EQ(m.loaded.lines, 3u);
}

TEST(MergerTest, TheLimitIsTheLoadersOwn) {
    // One more range than the limit: the loader would stop one short of the file.
    EXPECT_EQ(MaxLoadedRanges(), 524280u);
    std::string text;
    for (std::uint32_t i = 0; i <= MaxLoadedRanges(); ++i) text += "x:" + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." + std::to_string(i & 255) + ".0-" + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." + std::to_string(i & 255) + ".1\n";
    const Merged m({{text, ""}});
    EXPECT_TRUE(m.result.joined);
    EXPECT_EQ(m.result.dropped, 1u);
    EXPECT_EQ(static_cast<std::size_t>(m.loaded.ranges), m.loaded.lines);
}

}  // namespace
