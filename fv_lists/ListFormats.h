// The blocklist formats a subscription may deliver, read into one form: `p2p`
// (`description:first-last`), `.dat` (`first - last , level , description`) and one address or
// CIDR block per line. Every line is recognised on its own, so a list may mix them. Pure logic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fv::lists {

// In `.dat` lists an entry at this level or above allows its range instead of blocking it.
inline constexpr unsigned kDatAllowedLevel = 128;

struct ListRange {
    std::uint32_t first = 0;  // host order, first <= last
    std::uint32_t last = 0;
    std::uint32_t text = 0;    // description: offset and length in ParsedList::texts
    std::uint32_t length = 0;  // 0: the list gave none
};

struct ParsedList {
    std::vector<ListRange> ranges;
    std::string texts;
    std::uint64_t ipv6 = 0;          // IPv6 entries: the IPv4 filter cannot use them
    std::uint64_t allowed = 0;       // `.dat` entries that allow their range
    std::uint64_t unrecognised = 0;  // lines that are neither entries nor comments
    std::string_view Description(const ListRange& range) const {
        return std::string_view(texts).substr(range.text, range.length);
    }
};

// Strict dotted-decimal IPv4 (four fields of 1-3 digits, each at most 255); leading zeros are
// decimal, as `.dat` lists write them. False for anything else.
bool ParseIpv4(std::string_view text, std::uint32_t& address);
// "a.b.c.d" into `out`, which has room for 15 characters; returns the length written.
std::size_t FormatIpv4(std::uint32_t address, char* out);

// Each reads `text` line by line (LF, optional CR; a UTF-8 byte order mark is skipped) and
// appends what it recognises to `list`. ParseList takes every format on every line; the others
// take only their own, for the formats' own tests and fuzzing.
void ParseList(std::string_view text, ParsedList& list);
void ParseP2p(std::string_view text, ParsedList& list);
void ParseDat(std::string_view text, ParsedList& list);
void ParseCidr(std::string_view text, ParsedList& list);

// Why a parsed body cannot stand for its source (so its last good copy stays), or "" when it
// can: a body with no entry at all, or one in which most lines are not entries (an error page or
// binary junk served as the list).
std::string RejectReason(const ParsedList& list);

}  // namespace fv::lists
