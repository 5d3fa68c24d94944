#include "fv_lists/Merger.h"

#include <algorithm>
#include <cstring>

#include "fv_gui/blocklist/IpTable.h"

namespace fv::lists {
namespace {

// The loader skips lines shorter than this.
constexpr std::size_t kMinLoadedLine = 19;
constexpr std::size_t kMaxAddressText = 15;
// A merged line: description, ':', two addresses and '-', LF.
constexpr std::size_t kLineOverhead = 1 + 2 * kMaxAddressText + 1 + 1;
constexpr char kUnnamed[] = "blocklist";

struct Item {
    std::uint32_t first;
    std::uint32_t last;
    std::uint32_t input;
    std::uint32_t index;  // in its list
};

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
    if (total <= maxRanges) {
        result.text.reserve(total * (kLineOverhead + 24));
        for (std::uint32_t i = 0; i < inputs.size(); ++i) {
            const ParsedList& list = *inputs[i].list;
            for (std::uint32_t k = 0; k < list.ranges.size(); ++k) {
                AppendLine(result.text, description(i, k), list.ranges[k].first, list.ranges[k].last);
            }
        }
        result.ranges = total;
        return result;
    }

    std::vector<Item> items;
    items.reserve(total);
    for (std::uint32_t i = 0; i < inputs.size(); ++i) {
        const ParsedList& list = *inputs[i].list;
        for (std::uint32_t k = 0; k < list.ranges.size(); ++k) {
            items.push_back({list.ranges[k].first, list.ranges[k].last, i, k});
        }
    }
    // Stable: among ranges with the same first address the earlier input names the group.
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.first < b.first; });
    std::size_t groups = 0;
    for (std::size_t i = 0; i < items.size();) {
        const Item& head = items[i];
        std::uint32_t last = head.last;
        std::size_t next = i + 1;
        // Joined while the next range starts inside or right after the group.
        while (next < items.size() && last != UINT32_MAX && items[next].first <= last + 1) {
            last = std::max(last, items[next].last);
            ++next;
        }
        if (next < items.size() && last == UINT32_MAX) next = items.size();
        if (groups < maxRanges) {
            AppendLine(result.text, description(head.input, head.index), head.first, last);
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
