#include "fv_lists/ListState.h"

#include <algorithm>
#include <charconv>

namespace fv::lists {
namespace {

constexpr std::string_view kHeader = "ferrovane-lists state 1";
constexpr std::string_view kMergedTag = "merged";
constexpr std::string_view kSourceTag = "source";
constexpr int kMaxRetryDoublings = 20;

void AppendField(std::string& out, std::string_view field) {
    out += '\t';
    for (char c : field) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
}

void AppendNumber(std::string& out, std::int64_t value) { AppendField(out, std::to_string(value)); }

std::vector<std::string> SplitFields(std::string_view line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

template <typename T>
bool ToNumber(const std::string& text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::string Count(std::uint64_t value) { return std::to_string(value); }

}  // namespace

SourceState* ListsState::Find(std::string_view location) {
    for (SourceState& source : sources) {
        if (source.location == location) return &source;
    }
    return nullptr;
}

const SourceState* ListsState::Find(std::string_view location) const {
    return const_cast<ListsState*>(this)->Find(location);
}

SourceState& ListsState::At(std::string_view location) {
    if (SourceState* found = Find(location)) return *found;
    sources.push_back(SourceState{});
    sources.back().location = std::string(location);
    return sources.back();
}

std::string FormatState(const ListsState& state) {
    std::string out(kHeader);
    out += '\n';
    out += kMergedTag;
    AppendNumber(out, state.merge.built);
    AppendNumber(out, static_cast<std::int64_t>(state.merge.ranges));
    AppendNumber(out, state.merge.joined ? 1 : 0);
    AppendNumber(out, static_cast<std::int64_t>(state.merge.dropped));
    out += '\n';
    for (const SourceState& s : state.sources) {
        out += kSourceTag;
        AppendField(out, s.location);
        AppendNumber(out, s.lastAttempt);
        AppendNumber(out, s.lastSuccess);
        AppendNumber(out, s.lastChange);
        AppendNumber(out, static_cast<std::int64_t>(s.ranges));
        AppendNumber(out, static_cast<std::int64_t>(s.ipv6));
        AppendNumber(out, s.failures);
        AppendField(out, s.etag);
        AppendField(out, s.lastModified);
        AppendField(out, s.lastError);
        out += '\n';
    }
    return out;
}

ListsState ParseState(std::string_view text) {
    ListsState state;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::vector<std::string> f = SplitFields(text.substr(0, lf));
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        if (f[0] == kMergedTag && f.size() == 5) {
            MergeState merge;
            int joined = 0;
            if (ToNumber(f[1], merge.built) && ToNumber(f[2], merge.ranges) && ToNumber(f[3], joined) &&
                ToNumber(f[4], merge.dropped)) {
                merge.joined = joined != 0;
                state.merge = merge;
            }
        } else if (f[0] == kSourceTag && f.size() == 11 && !state.Find(f[1])) {
            SourceState s;
            s.location = f[1];
            if (ToNumber(f[2], s.lastAttempt) && ToNumber(f[3], s.lastSuccess) && ToNumber(f[4], s.lastChange) &&
                ToNumber(f[5], s.ranges) && ToNumber(f[6], s.ipv6) && ToNumber(f[7], s.failures)) {
                s.etag = f[8];
                s.lastModified = f[9];
                s.lastError = f[10];
                state.sources.push_back(std::move(s));
            }
        }
    }
    return state;
}

bool IsDue(const Source& source, const SourceState* state, std::int64_t now) {
    if (state == nullptr || state->lastAttempt == 0) return true;
    std::int64_t wait = source.periodSeconds;
    if (state->failures > 0) {
        const int doublings = static_cast<int>(std::min<std::uint32_t>(state->failures - 1, kMaxRetryDoublings));
        wait = std::min(source.periodSeconds, kFirstRetrySeconds << doublings);
    }
    // A clock set back must not hold a source back for good.
    return now - state->lastAttempt >= wait || now < state->lastAttempt;
}

bool IsStale(const Source& source, const SourceState* state, std::int64_t now) {
    if (state == nullptr || state->lastSuccess == 0) return true;
    return now - state->lastSuccess > kStalePeriods * source.periodSeconds;
}

std::string FormatAge(std::int64_t then, std::int64_t now) {
    const std::int64_t age = std::max<std::int64_t>(now - then, 0);
    if (age < 60) return "just now";
    if (age < 3600) return std::to_string(age / 60) + "m ago";
    if (age < 48 * 3600) return std::to_string(age / 3600) + "h ago";
    return std::to_string(age / (24 * 3600)) + "d ago";
}

std::vector<StatusLine> FreshnessLines(const std::vector<Source>& sources, const ListsState& state,
                                       std::int64_t now) {
    std::vector<StatusLine> lines;
    if (sources.empty()) return lines;
    for (const Source& source : sources) {
        const SourceState* s = state.Find(source.location);
        StatusLine line;
        line.text = "List \"" + source.DisplayName() + "\": ";
        if (s == nullptr || s->lastSuccess == 0) {
            line.warning = true;
            line.text += "never updated";
            if (s != nullptr && !s->lastError.empty()) line.text += " (" + s->lastError + ")";
        } else {
            line.warning = IsStale(source, s, now);
            line.text += (line.warning ? "STALE, updated " : "updated ") + FormatAge(s->lastSuccess, now) + ", " +
                         Count(s->ranges) + " ranges";
            if (s->ipv6 > 0) line.text += " (" + Count(s->ipv6) + " IPv6 entries not filtered)";
            if (!s->lastError.empty()) {
                line.warning = true;
                line.text += "; last attempt failed: " + s->lastError;
            }
        }
        lines.push_back(std::move(line));
    }
    if (state.merge.built != 0) {
        StatusLine merged;
        merged.text = "Lists merged " + FormatAge(state.merge.built, now) + ": " + Count(state.merge.ranges) +
                      " ranges" + (state.merge.joined ? " (overlapping ranges joined)" : "");
        if (state.merge.dropped > 0) {
            merged.warning = true;
            merged.text += "; " + Count(state.merge.dropped) + " ranges left out, too many for the program";
        }
        lines.push_back(std::move(merged));
    }
    return lines;
}

}  // namespace fv::lists
