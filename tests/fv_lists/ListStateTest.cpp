#include "fv_lists/ListState.h"

#include <gtest/gtest.h>

namespace {

using namespace fv::lists;

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kNow = 1'800'000'000;

TEST(ListStateTest, StateReadsBackWithAwkwardTextAndSurvivesDamage) {
    ListsState state;
    state.merge = {kNow, 1234, true, 5};
    SourceState& s = state.At("https://a.example/x\tb");
    s.lastAttempt = kNow;
    s.lastSuccess = kNow - 10;
    s.lastChange = kNow - 20;
    s.ranges = 77;
    s.ipv6 = 3;
    s.failures = 2;
    s.lastError = "line\none\\two\tthree";
    s.etag = "W/\"abc\"";
    s.lastModified = "Tue, 08 Dec 2026 05:00:00 GMT";
    const ListsState again = ParseState(FormatState(state) + "source\tbroken\n\x01\x02junk\n");
    ASSERT_EQ(again.sources.size(), 1u);
    const SourceState& r = again.sources[0];
    EXPECT_EQ(r.location, s.location);
    EXPECT_EQ(r.lastError, s.lastError);
    EXPECT_EQ(r.etag, s.etag);
    EXPECT_EQ(r.lastModified, s.lastModified);
    EXPECT_EQ(r.failures, 2u);
    EXPECT_EQ(r.ipv6, 3u);
    EXPECT_EQ(again.merge.dropped, 5u);
    EXPECT_TRUE(again.merge.joined);
}

TEST(ListStateTest, ScheduleBacksOffAfterFailuresUpToThePeriod) {
    const Source source{"http://x/", 12 * kHour, ""};
    SourceState s;
    EXPECT_TRUE(IsDue(source, nullptr, kNow));
    s.lastAttempt = kNow;
    EXPECT_FALSE(IsDue(source, &s, kNow + 11 * kHour));
    EXPECT_TRUE(IsDue(source, &s, kNow + 12 * kHour));
    s.failures = 1;
    EXPECT_TRUE(IsDue(source, &s, kNow + kFirstRetrySeconds));
    EXPECT_FALSE(IsDue(source, &s, kNow + kFirstRetrySeconds - 1));
    s.failures = 3;
    EXPECT_FALSE(IsDue(source, &s, kNow + 4 * kFirstRetrySeconds - 1));
    s.failures = 1000;  // never longer than the period, and no overflow
    EXPECT_TRUE(IsDue(source, &s, kNow + 12 * kHour));
    EXPECT_TRUE(IsDue(source, &s, kNow - kHour));  // the clock went back
}

TEST(ListStateTest, RowsShowAgeRangesAndStaleness) {
    const std::vector<Source> sources = {{"http://fresh.example/l", 24 * kHour, ""},
                                         {"http://old.example/l", 24 * kHour, "Old"},
                                         {"http://never.example/l", 24 * kHour, ""}};
    ListsState state;
    state.merge = {kNow - kHour, 300, false, 0};
    SourceState& fresh = state.At(sources[0].location);
    fresh.lastSuccess = kNow - 2 * kHour;
    fresh.ranges = 100;
    fresh.ipv6 = 4;
    SourceState& old = state.At(sources[1].location);
    old.lastSuccess = kNow - 3 * 24 * kHour - 1;
    old.ranges = 200;
    old.lastError = "HTTP status 500";
    state.At(sources[2].location).lastError = "Timeout";
    const auto rows = FreshnessLines(sources, state, kNow);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_FALSE(rows[0].warning);
    EXPECT_EQ(rows[0].text, "List \"fresh.example\": updated 2h ago, 100 ranges (4 IPv6 entries not filtered)");
    EXPECT_TRUE(rows[1].warning);
    EXPECT_EQ(rows[1].text, "List \"Old\": STALE, updated 3d ago, 200 ranges; last attempt failed: HTTP status 500");
    EXPECT_TRUE(rows[2].warning);
    EXPECT_EQ(rows[2].text, "List \"never.example\": never updated (Timeout)");
    EXPECT_EQ(rows[3].text, "Lists merged 1h ago: 300 ranges");
    EXPECT_TRUE(FreshnessLines({}, state, kNow).empty());
}

}  // namespace
