// The subscriptions file: one source per line,
//
//     LOCATION [every=PERIOD] [label=TEXT]
//
// LOCATION is an http:// or https:// URL or a local path (written in double quotes, with \" and
// \\, when it holds a space or a quote); PERIOD is a number and a unit, m (minutes), h (hours)
// or d (days), default 24h; the label runs to the end of the line. Empty lines and lines that
// start with # are comments. Pure logic.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fv::lists {

inline constexpr std::int64_t kDefaultPeriodSeconds = 24 * 3600;
// A scheduled refresh never runs more often than this, whatever a source asks for.
inline constexpr std::int64_t kMinPeriodSeconds = 3600;
inline constexpr std::int64_t kMaxPeriodSeconds = 365 * 24 * 3600;

struct Source {
    std::string location;
    std::int64_t periodSeconds = kDefaultPeriodSeconds;
    std::string label;

    bool IsUrl() const;
    // What names the source where its list gives no description: its label, else the host of
    // its URL or the name of its file.
    std::string DisplayName() const;
};

struct ConfigError {
    std::size_t line = 0;
    std::string message;
};

// "90m", "12h", "2d": seconds, or nullopt when malformed or outside the bounds above.
std::optional<std::int64_t> ParsePeriod(std::string_view text);
// The shortest exact form ("90m", "12h", "2d").
std::string FormatPeriod(std::int64_t seconds);

// The sources of a whole file; nullopt and `error` set at the first bad line.
std::optional<std::vector<Source>> ParseSources(std::string_view text, ConfigError& error);
// The file's text for `sources`, with the header that documents the format.
std::string FormatSources(const std::vector<Source>& sources);

// The index of the source `key` names (its location, or its label), or -1.
int FindSource(const std::vector<Source>& sources, std::string_view key);

}  // namespace fv::lists
