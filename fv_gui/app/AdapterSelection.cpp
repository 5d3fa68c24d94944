#include "fv_gui/app/AdapterSelection.h"

#include <algorithm>

#include "fv_gui/app/MainWindowTexts.h"

namespace fv {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::vector<std::string> AdapterItems(const AdapterList& list) {
    std::vector<std::string> items{texts::kNotSelected};
    for (const auto& [device, entry] : list) items.push_back(entry.vendorDescription);
    return items;
}

int FindItemExact(const std::vector<std::string>& items, std::string_view text) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (EqualNoCase(items[i], text)) return static_cast<int>(i);
    }
    return -1;
}

const AdapterInfo* FindAdapter(const AdapterList& list, std::string_view deviceName) {
    const auto it = list.find(std::string(deviceName));
    return it == list.end() ? nullptr : &it->second;
}

const AdapterInfo* FindByDisplayName(const AdapterList& list, std::string_view text) {
    for (const auto& [device, entry] : list) {
        if (EqualNoCase(entry.vendorDescription, text)) return &entry;
    }
    return nullptr;
}

int StoredSelectionItem(const AdapterList& list, const std::vector<std::string>& items,
                        std::string_view storedDevice) {
    if (storedDevice.empty()) return 0;
    const AdapterInfo* entry = FindAdapter(list, storedDevice);
    if (!entry) return 0;
    return std::max(0, FindItemExact(items, entry->vendorDescription));
}

}  // namespace fv
