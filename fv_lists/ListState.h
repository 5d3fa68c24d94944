// What the updates remember between runs, and what the user is told about it: per source its
// last attempt and success, its range counts, its validators, its failures, and the merged
// file's last build. Kept in a small text file beside the merged file. Pure logic.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fv_lists/SourceConfig.h"

namespace fv::lists {

// A list that has not been refreshed for this many of its periods is stale.
inline constexpr int kStalePeriods = 3;
// The first retry after a failed scheduled fetch waits this long; each further failure doubles
// the wait, up to the source's period.
inline constexpr std::int64_t kFirstRetrySeconds = 30 * 60;

struct SourceState {
    std::string location;
    std::int64_t lastAttempt = 0;  // Unix seconds; 0: never
    std::int64_t lastSuccess = 0;  // last time the source was fetched good (fresh or unchanged)
    std::int64_t lastChange = 0;   // when its good copy last changed
    std::uint64_t ranges = 0;      // in the good copy
    std::uint64_t ipv6 = 0;        // IPv6 entries in the good copy, not filtered
    std::uint32_t failures = 0;    // since the last success
    std::string lastError;         // of the last attempt; empty when it was good
    std::string etag;              // validators of the good copy
    std::string lastModified;
};

struct MergeState {
    std::int64_t built = 0;    // when the merged file was last written
    std::uint64_t ranges = 0;  // lines in it
    bool joined = false;
    std::uint64_t dropped = 0;
};

struct ListsState {
    MergeState merge;
    std::vector<SourceState> sources;

    SourceState* Find(std::string_view location);
    const SourceState* Find(std::string_view location) const;
    // The state of `location`, added when missing.
    SourceState& At(std::string_view location);
};

// Text form. A file that cannot be read gives what it can (an unknown line is skipped), so a
// damaged state never stops an update; it only costs validators.
std::string FormatState(const ListsState& state);
ListsState ParseState(std::string_view text);

// Whether a scheduled update should fetch the source now.
bool IsDue(const Source& source, const SourceState* state, std::int64_t now);
// A good copy older than kStalePeriods periods (or none at all).
bool IsStale(const Source& source, const SourceState* state, std::int64_t now);

// "3h", "2d", "45m", "just now": how long ago `then` was.
std::string FormatAge(std::int64_t then, std::int64_t now);

// The main window's rows: one per source and one for the merged file, with the kind each is
// shown as. Empty when there are no sources.
struct StatusLine {
    bool warning = false;
    std::string text;
};
std::vector<StatusLine> FreshnessLines(const std::vector<Source>& sources, const ListsState& state,
                                       std::int64_t now);

}  // namespace fv::lists
