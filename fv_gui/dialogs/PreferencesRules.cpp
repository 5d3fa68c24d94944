#include "fv_gui/dialogs/PreferencesRules.h"

#include <algorithm>
#include <limits>

namespace fv::dialogs {

int CollectorSliderPosition(std::uint32_t limit) {
    const long long position = static_cast<long long>(kCollectorSum) - static_cast<long long>(limit);
    return static_cast<int>(std::clamp<long long>(position, kCollectorSliderMin, kCollectorSliderMax));
}

std::uint32_t CollectorLimit(int position) {
    return static_cast<std::uint32_t>(kCollectorSum - std::clamp(position, kCollectorSliderMin, kCollectorSliderMax));
}

std::string WaitSecondsText(std::uint32_t timeoutMs) {
    return std::to_string(timeoutMs / kMillisecondsPerSecond);
}

std::uint32_t WaitTimeout(std::string_view text) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    std::uint64_t seconds = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') break;
        seconds = std::min<std::uint64_t>(seconds * 10 + static_cast<std::uint64_t>(c - '0'), kMax);
    }
    return static_cast<std::uint32_t>(std::min(seconds * kMillisecondsPerSecond, kMax));
}

std::string FolderWithSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace fv::dialogs
