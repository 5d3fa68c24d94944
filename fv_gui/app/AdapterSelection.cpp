#include "fv_gui/app/AdapterSelection.h"

#include <iterator>

#include "fv_gui/app/MainWindowTexts.h"

namespace fv {
std::string_view InterfaceName(std::string_view deviceName) {
    const std::size_t slash = deviceName.find_last_of('\\');
    return slash == std::string_view::npos ? deviceName : deviceName.substr(slash + 1);
}

std::string AdapterItemText(const AdapterInfo& entry) {
    const std::string_view name = InterfaceName(entry.lowerDeviceName);
    if (entry.vendorDescription.empty()) return std::string(name);
    return entry.vendorDescription + " (" + std::string(name) + ")";
}

std::vector<std::string> AdapterItems(const AdapterList& list) {
    std::vector<std::string> items{texts::kNotSelected};
    for (const auto& [device, entry] : list) items.push_back(AdapterItemText(entry));
    return items;
}

const AdapterInfo* FindAdapter(const AdapterList& list, std::string_view deviceName) {
    const auto it = list.find(std::string(deviceName));
    return it == list.end() ? nullptr : &it->second;
}

int ItemOfDevice(const AdapterList& list, std::string_view deviceName) {
    if (deviceName.empty()) return 0;
    const auto it = list.find(std::string(deviceName));
    return it == list.end() ? 0 : 1 + static_cast<int>(std::distance(list.begin(), it));
}

const AdapterInfo* EntryOfItem(const AdapterList& list, int item) {
    if (item < 1 || static_cast<std::size_t>(item) > list.size()) return nullptr;
    return &std::next(list.begin(), item - 1)->second;
}

}  // namespace fv
