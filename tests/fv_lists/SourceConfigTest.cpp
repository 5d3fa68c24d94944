#include "fv_lists/SourceConfig.h"

#include <gtest/gtest.h>

namespace {

using namespace fv::lists;

TEST(SourceConfigTest, WrittenFileReadsBackTheSameSources) {
    const std::vector<Source> sources = {
        {"https://lists.example/level1.gz", 12 * 3600, "Level one: hostile"},
        {"/home/me/My Lists/\"odd\" \\ name.p2p", kDefaultPeriodSeconds, ""},
        {"/srv/#hash.txt", 90 * 60, "label=inside"},
    };
    ConfigError error;
    const auto again = ParseSources(FormatSources(sources), error);
    ASSERT_TRUE(again) << error.line << ": " << error.message;
    ASSERT_EQ(again->size(), sources.size());
    for (std::size_t i = 0; i < sources.size(); ++i) {
        EXPECT_EQ((*again)[i].location, sources[i].location);
        EXPECT_EQ((*again)[i].periodSeconds, sources[i].periodSeconds);
        EXPECT_EQ((*again)[i].label, sources[i].label);
    }
}

TEST(SourceConfigTest, BadLinesAreReportedWithTheirNumber) {
    struct Case {
        const char* text;
        std::size_t line;
    };
    for (const Case& c : {Case{"# c\nhttp://a/x every=5m\n", 2}, Case{"\"/unclosed\n", 1},
                          Case{"http://a/x\nhttp://a/x\n", 2}, Case{"http://a/x sometimes\n", 1},
                          Case{"http://a/x every=99999999999999d\n", 1}}) {
        ConfigError error;
        EXPECT_FALSE(ParseSources(c.text, error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text;
    }
}

TEST(SourceConfigTest, PeriodsAndNames) {
    EXPECT_EQ(ParsePeriod("12h"), 12 * 3600);
    EXPECT_EQ(ParsePeriod("2d"), 2 * 24 * 3600);
    EXPECT_EQ(ParsePeriod("59m"), std::nullopt);  // under an hour
    for (const char* bad : {"h", "-1h", "1.5h", "12", "0d", "1w"}) EXPECT_EQ(ParsePeriod(bad), std::nullopt) << bad;
    EXPECT_EQ(FormatPeriod(90 * 60), "90m");
    const Source url{"https://user@host.example:8443/a/b?c", kDefaultPeriodSeconds, ""};
    const Source file{"/var/lists/ads.dat", kDefaultPeriodSeconds, ""};
    EXPECT_EQ(url.DisplayName(), "host.example:8443");
    EXPECT_EQ(file.DisplayName(), "ads.dat");
    std::vector<Source> sources = {{"http://a/1", kDefaultPeriodSeconds, "ads"}, {"ads", kDefaultPeriodSeconds, ""}};
    EXPECT_EQ(FindSource(sources, "ads"), 1);  // a location wins over a label
    EXPECT_EQ(FindSource(sources, "http://a/1"), 0);
}

}  // namespace
