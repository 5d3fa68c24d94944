#include "fv_lists/ListFormats.h"

#include <algorithm>
#include <charconv>

namespace fv::lists {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kMaxPrefix = 32;
constexpr unsigned kMaxDatLevelDigits = 9;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

void Add(ParsedList& list, std::uint32_t a, std::uint32_t b, std::string_view description) {
    ListRange range;
    range.first = std::min(a, b);
    range.last = std::max(a, b);
    range.text = static_cast<std::uint32_t>(list.texts.size());
    range.length = static_cast<std::uint32_t>(description.size());
    list.texts.append(description);
    list.ranges.push_back(range);
}

// An IPv6 address or block: hexadecimal groups and colons (at least two), perhaps an embedded
// IPv4 tail and a prefix. Loose on purpose: it is only counted, never filtered.
bool LooksIpv6(std::string_view text) {
    const std::size_t slash = text.find('/');
    std::string_view address = text.substr(0, slash);
    if (slash != std::string_view::npos) {
        const std::string_view prefix = text.substr(slash + 1);
        if (prefix.empty() || prefix.size() > 3 ||
            !std::all_of(prefix.begin(), prefix.end(), IsDigit)) {
            return false;
        }
    }
    if (address.size() < 2 || std::count(address.begin(), address.end(), ':') < 2) return false;
    return std::all_of(address.begin(), address.end(),
                       [](char c) { return IsHex(c) || c == ':' || c == '.'; });
}

// "a - b" or "a-b" into a range.
bool ParseSpan(std::string_view text, std::uint32_t& first, std::uint32_t& last) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return false;
    return ParseIpv4(Trim(text.substr(0, dash)), first) && ParseIpv4(Trim(text.substr(dash + 1)), last);
}

// Which kind a line turned out to be.
enum class Line { Entry, Skipped, Ipv6, Unknown };

Line P2pLine(std::string_view line, ParsedList& list) {
    const std::size_t colon = line.rfind(':');
    if (colon == std::string_view::npos) return Line::Unknown;
    std::uint32_t first = 0, last = 0;
    if (!ParseSpan(line.substr(colon + 1), first, last)) return Line::Unknown;
    Add(list, first, last, Trim(line.substr(0, colon)));
    return Line::Entry;
}

Line DatLine(std::string_view line, ParsedList& list) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) return Line::Unknown;
    const std::string_view span = Trim(line.substr(0, comma));
    std::string_view rest = line.substr(comma + 1);
    const std::size_t second = rest.find(',');
    const std::string_view levelText = Trim(rest.substr(0, second));
    const std::string_view description =
        second == std::string_view::npos ? std::string_view() : Trim(rest.substr(second + 1));
    unsigned level = 0;
    if (levelText.empty() || levelText.size() > kMaxDatLevelDigits ||
        !std::all_of(levelText.begin(), levelText.end(), IsDigit)) {
        return Line::Unknown;
    }
    std::from_chars(levelText.data(), levelText.data() + levelText.size(), level);
    std::uint32_t first = 0, last = 0;
    if (!ParseSpan(span, first, last)) {
        return span.find(':') != std::string_view::npos ? Line::Ipv6 : Line::Unknown;
    }
    if (level >= kDatAllowedLevel) {
        ++list.allowed;
        return Line::Skipped;
    }
    Add(list, first, last, description);
    return Line::Entry;
}

Line CidrLine(std::string_view line, ParsedList& list) {
    std::string_view description;
    const std::size_t hash = line.find('#');
    if (hash != std::string_view::npos) {
        description = Trim(line.substr(hash + 1));
        line = Trim(line.substr(0, hash));
    }
    const std::size_t slash = line.find('/');
    std::uint32_t address = 0;
    if (!ParseIpv4(line.substr(0, slash), address)) {
        return LooksIpv6(line) ? Line::Ipv6 : Line::Unknown;
    }
    std::size_t prefix = kMaxPrefix;
    if (slash != std::string_view::npos) {
        const std::string_view digits = line.substr(slash + 1);
        if (digits.empty() || digits.size() > 2 || !std::all_of(digits.begin(), digits.end(), IsDigit)) {
            return Line::Unknown;
        }
        std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
        if (prefix > kMaxPrefix) return Line::Unknown;
    }
    // Host bits set below the prefix are cleared: the block is what the prefix says.
    const std::uint32_t hostMask = prefix == 0 ? ~std::uint32_t{0} : (std::uint32_t{1} << (kMaxPrefix - prefix)) - 1;
    const std::uint32_t first = address & ~hostMask;
    Add(list, first, first | hostMask, description);
    return Line::Entry;
}

Line AnyLine(std::string_view line, ParsedList& list) {
    // A `.dat` line starts with its address and has a comma; a `p2p` line names its range after
    // its last colon; anything else may be a bare address or block.
    if (IsDigit(line.front()) && line.find(',') != std::string_view::npos) {
        if (const Line kind = DatLine(line, list); kind != Line::Unknown) return kind;
    }
    if (const Line kind = P2pLine(line, list); kind != Line::Unknown) return kind;
    return CidrLine(line, list);
}

template <typename LineParser>
void ForEachLine(std::string_view text, ParsedList& list, LineParser parse) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
    // Room for a range per line up front: a long list would otherwise be copied as it grows.
    list.ranges.reserve(list.ranges.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::string_view line = Trim(text.substr(0, lf));
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        if (line.empty() || line.front() == '#') continue;
        switch (parse(line, list)) {
            case Line::Ipv6: ++list.ipv6; break;
            case Line::Unknown: ++list.unrecognised; break;
            case Line::Entry:
            case Line::Skipped: break;
        }
    }
}

}  // namespace

bool ParseIpv4(std::string_view text, std::uint32_t& address) {
    std::uint32_t value = 0;
    for (int field = 0; field < 4; ++field) {
        std::size_t digits = 0;
        unsigned number = 0;
        while (digits < text.size() && IsDigit(text[digits])) {
            if (digits == 3) return false;
            number = number * 10 + static_cast<unsigned>(text[digits] - '0');
            ++digits;
        }
        if (digits == 0 || number > 255) return false;
        value = value << 8 | number;
        text.remove_prefix(digits);
        if (field < 3) {
            if (text.empty() || text.front() != '.') return false;
            text.remove_prefix(1);
        }
    }
    if (!text.empty()) return false;
    address = value;
    return true;
}

std::size_t FormatIpv4(std::uint32_t address, char* out) {
    char* p = out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned field = (address >> shift) & 0xFFu;
        if (field >= 100) *p++ = static_cast<char>('0' + field / 100);
        if (field >= 10) *p++ = static_cast<char>('0' + field / 10 % 10);
        *p++ = static_cast<char>('0' + field % 10);
        if (shift > 0) *p++ = '.';
    }
    return static_cast<std::size_t>(p - out);
}

void ParseList(std::string_view text, ParsedList& list) { ForEachLine(text, list, AnyLine); }
void ParseP2p(std::string_view text, ParsedList& list) { ForEachLine(text, list, P2pLine); }
void ParseDat(std::string_view text, ParsedList& list) { ForEachLine(text, list, DatLine); }
void ParseCidr(std::string_view text, ParsedList& list) { ForEachLine(text, list, CidrLine); }

std::string RejectReason(const ParsedList& list) {
    const std::uint64_t entries = list.ranges.size() + list.ipv6 + list.allowed;
    if (entries == 0) {
        return list.unrecognised == 0 ? "the list is empty" : "no blocklist entries recognised";
    }
    if (list.unrecognised > entries) {
        return "most lines are not blocklist entries (" + std::to_string(list.unrecognised) + " of " +
               std::to_string(list.unrecognised + entries) + ")";
    }
    return {};
}

}  // namespace fv::lists
