#include "fv_lists/Merger.h"

#include <algorithm>
#include <cstring>

#include "fv_gui/blocklist/IpTable.h"

namespace fv::lists {
namespace {

constexpr std::size_t kMinLoadedLine = kMinEntryLineLength;
constexpr std::size_t kMaxAddressText = 15;
// A merged line: description, ':', two addresses and '-', LF.
constexpr std::size_t kLineOverhead = 1 + 2 * kMaxAddressText + 1 + 1;
constexpr char kUnnamed[] = "blocklist";

// What stands in the line for `description`: no line break, nothing past what the loader
// keeps, never empty.
std::string_view Usable(std::string_view description, std::string_view fallback) {
    if (description.empty()) description = fallback;
    if (description.empty()) description = kUnnamed;
    // The loader keeps this many characters and cuts what is longer to the same length, so
    // the stored description does not change.
    return description.substr(0, kMaxDescriptionLength);
}

void AppendLine(std::string& out, std::string_view description, std::uint32_t first, std::uint32_t last) {
    char addresses[kLineOverhead];
    char* p = addresses;
    *p++ = ':';
    p += FormatIpv4(first, p);
    *p++ = '-';
    p += FormatIpv4(last, p);
    const std::size_t addressLength = static_cast<std::size_t>(p - addresses);
    out.append(description);
    // A short line would be skipped: pad the description.
    if (description.size() + addressLength < kMinLoadedLine) {
        out.append(kMinLoadedLine - description.size() - addressLength, ' ');
    }
    *p++ = '\n';
    out.append(addresses, static_cast<std::size_t>(p - addresses));
}

}  // namespace

std::size_t MaxLoadedRanges() { return (kSessionRangeBufferSize - sizeof(RangeTable)) / sizeof(RangeEntry); }

MergeResult MergeLists(const std::vector<MergeInput>& inputs, std::size_t maxRanges) {
    MergeResult result;
    std::size_t total = 0;
    for (const MergeInput& input : inputs) total += input.list->ranges.size();

    auto description = [&](std::uint32_t input, std::uint32_t index) {
        const ParsedList& list = *inputs[input].list;
        return Usable(list.Description(list.ranges[index]), inputs[input].fallbackDescription);
    };
    // The most a line can take; pages of the reserve that are not written are never touched.
    result.text.reserve(std::min(total, maxRanges) * (kMaxDescriptionLength + kMinLoadedLine + kLineOverhead));
    if (total <= maxRanges) {
        for (std::uint32_t i = 0; i < inputs.size(); ++i) {
            const ParsedList& list = *inputs[i].list;
            for (std::uint32_t k = 0; k < list.ranges.size(); ++k) {
                AppendLine(result.text, description(i, k), list.ranges[k].first, list.ranges[k].last);
            }
        }
        result.ranges = total;
        return result;
    }

    // Each range as (first << 32 | its number across all inputs in order): sorted as plain
    // numbers, ranges with the same first address stay in input order, so the earlier input
    // names the group.
    std::vector<std::uint64_t> keys;
    keys.reserve(total);
    std::vector<std::uint32_t> starts;  // number of each input's first range
    std::uint32_t number = 0;
    for (const MergeInput& input : inputs) {
        starts.push_back(number);
        for (const ListRange& range : input.list->ranges) keys.push_back(std::uint64_t{range.first} << 32 | number++);
    }
    std::sort(keys.begin(), keys.end());
    auto rangeOf = [&](std::uint64_t key, std::uint32_t& input) -> const ListRange& {
        const std::uint32_t n = static_cast<std::uint32_t>(key);
        input = static_cast<std::uint32_t>(std::upper_bound(starts.begin(), starts.end(), n) - starts.begin() - 1);
        return inputs[input].list->ranges[n - starts[input]];
    };
    std::size_t groups = 0;
    for (std::size_t i = 0; i < keys.size();) {
        std::uint32_t headInput = 0;
        const ListRange& head = rangeOf(keys[i], headInput);
        std::uint32_t last = head.last;
        std::size_t next = i + 1;
        // Joined while the next range starts inside or right after the group.
        for (; next < keys.size() && last != UINT32_MAX && (keys[next] >> 32) <= std::uint64_t{last} + 1; ++next) {
            std::uint32_t input = 0;
            last = std::max(last, rangeOf(keys[next], input).last);
        }
        if (last == UINT32_MAX) next = keys.size();
        if (groups < maxRanges) {
            AppendLine(result.text, description(headInput, static_cast<std::uint32_t>(&head - inputs[headInput].list->ranges.data())),
                       head.first, last);
        } else {
            ++result.dropped;
        }
        ++groups;
        i = next;
    }
    result.joined = true;
    result.ranges = groups - result.dropped;
    return result;
}

}  // namespace fv::lists
