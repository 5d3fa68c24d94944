#include "fv_lists/SourceConfig.h"

#include <algorithm>
#include <charconv>

namespace fv::lists {
namespace {

constexpr std::string_view kEveryField = "every=";
constexpr std::string_view kLabelField = "label=";
constexpr std::string_view kHeader =
    "# Ferrovane blocklist subscriptions, read by ferrovane-lists.\n"
    "# One source per line: LOCATION [every=PERIOD] [label=TEXT]\n"
    "#   LOCATION  an http:// or https:// URL, or a local file (in double quotes if it holds a space)\n"
    "#   PERIOD    how often a scheduled update fetches it: 90m, 12h, 2d (at least 1h, default 24h)\n"
    "#   TEXT      a name for the list, to the end of the line; used where the list has none\n";

struct Unit {
    char letter;
    std::int64_t seconds;
};
constexpr Unit kUnits[] = {{'d', 24 * 3600}, {'h', 3600}, {'m', 60}};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool NeedsQuotes(std::string_view location) {
    return location.empty() || location.front() == '#' ||
           std::any_of(location.begin(), location.end(), [](char c) { return IsBlank(c) || c == '"'; });
}

// Reads the location at the start of `line` and removes it; false when a quote is not closed.
bool TakeLocation(std::string_view& line, std::string& location) {
    location.clear();
    if (line.front() != '"') {
        std::size_t end = 0;
        while (end < line.size() && !IsBlank(line[end])) ++end;
        location = line.substr(0, end);
        line.remove_prefix(end);
        return true;
    }
    for (std::size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            location += line[++i];
        } else if (line[i] == '"') {
            line.remove_prefix(i + 1);
            return true;
        } else {
            location += line[i];
        }
    }
    return false;
}

std::string_view HostOf(std::string_view url) {
    const std::size_t scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = rest.rfind('@');
    if (at != std::string_view::npos) rest.remove_prefix(at + 1);
    return rest;
}

}  // namespace

bool Source::IsUrl() const { return StartsWith(location, "http://") || StartsWith(location, "https://"); }

std::string Source::DisplayName() const {
    if (!label.empty()) return label;
    if (IsUrl()) return std::string(HostOf(location));
    const std::size_t slash = location.rfind('/');
    return slash == std::string::npos ? location : location.substr(slash + 1);
}

std::optional<std::int64_t> ParsePeriod(std::string_view text) {
    if (text.size() < 2) return std::nullopt;
    const auto unit = std::find_if(std::begin(kUnits), std::end(kUnits),
                                   [&](const Unit& u) { return u.letter == text.back(); });
    if (unit == std::end(kUnits)) return std::nullopt;
    std::int64_t count = 0;
    const char* end = text.data() + text.size() - 1;
    const auto [stop, error] = std::from_chars(text.data(), end, count);
    if (error != std::errc() || stop != end || count <= 0 || count > kMaxPeriodSeconds / unit->seconds) {
        return std::nullopt;
    }
    const std::int64_t seconds = count * unit->seconds;
    if (seconds < kMinPeriodSeconds) return std::nullopt;
    return seconds;
}

std::string FormatPeriod(std::int64_t seconds) {
    for (const Unit& unit : kUnits) {
        if (seconds % unit.seconds == 0) return std::to_string(seconds / unit.seconds) + unit.letter;
    }
    return std::to_string(seconds / 60) + "m";
}

std::optional<std::vector<Source>> ParseSources(std::string_view text, ConfigError& error) {
    std::vector<Source> sources;
    std::size_t number = 0;
    auto fail = [&](std::string message) {
        error = {number, std::move(message)};
        return std::nullopt;
    };
    while (!text.empty()) {
        ++number;
        const std::size_t lf = text.find('\n');
        std::string_view line = Trim(text.substr(0, lf));
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        if (line.empty() || line.front() == '#') continue;
        Source source;
        if (!TakeLocation(line, source.location)) return fail("the quoted location is not closed");
        if (source.location.empty()) return fail("the location is empty");
        for (line = Trim(line); !line.empty(); line = Trim(line)) {
            if (StartsWith(line, kLabelField)) {
                source.label = std::string(Trim(line.substr(kLabelField.size())));
                break;
            }
            const std::size_t end = std::find_if(line.begin(), line.end(), IsBlank) - line.begin();
            const std::string_view field = line.substr(0, end);
            line.remove_prefix(end);
            if (!StartsWith(field, kEveryField)) return fail("unknown field \"" + std::string(field) + "\"");
            const auto period = ParsePeriod(field.substr(kEveryField.size()));
            if (!period) return fail("bad period \"" + std::string(field.substr(kEveryField.size())) + "\"");
            source.periodSeconds = *period;
        }
        if (FindSource(sources, source.location) >= 0) return fail("the source is listed twice");
        sources.push_back(std::move(source));
    }
    return sources;
}

std::string FormatSources(const std::vector<Source>& sources) {
    std::string text(kHeader);
    for (const Source& source : sources) {
        if (NeedsQuotes(source.location)) {
            text += '"';
            for (char c : source.location) {
                if (c == '"' || c == '\\') text += '\\';
                text += c;
            }
            text += '"';
        } else {
            text += source.location;
        }
        if (source.periodSeconds != kDefaultPeriodSeconds) {
            text += ' ';
            text += kEveryField;
            text += FormatPeriod(source.periodSeconds);
        }
        if (!source.label.empty()) {
            text += ' ';
            text += kLabelField;
            text += source.label;
        }
        text += '\n';
    }
    return text;
}

int FindSource(const std::vector<Source>& sources, std::string_view key) {
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (sources[i].location == key) return static_cast<int>(i);
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (!sources[i].label.empty() && sources[i].label == key) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace fv::lists
