// ferrovane-settings [NAME[=VALUE]]...: sets or prints the program's settings and lifetime totals
// in the registry the program would use ($FERROVANE_REGISTRY_DIR honoured). With no argument it
// prints every setting. Used by the demo and the system tests to prepare and read back a run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"

namespace {

using Setting = std::variant<fv::DwordSetting*, fv::StringSetting*>;

std::vector<std::pair<std::string_view, Setting>> Table(fv::Settings& s) {
    return {{"IPDB", &s.IPDB},
            {"LogPath", &s.LogPath},
            {"BaseLogFilename", &s.BaseLogFilename},
            {"Popup", &s.Popup},
            {"PopupTimeout", &s.PopupTimeout},
            {"LogBlockedToVideo", &s.LogBlockedToVideo},
            {"LogGrantedToVideo", &s.LogGrantedToVideo},
            {"LogBlockedToFile", &s.LogBlockedToFile},
            {"LogGrantedToFile", &s.LogGrantedToFile},
            {"LogCollectorLimit", &s.LogCollectorLimit},
            {"AutoStart", &s.AutoStart},
            {"LoadMinimized", &s.LoadMinimized},
            {"TrayAlwaysVisible", &s.TrayAlwaysVisible},
            {"TrayBlinkingEnbaled", &s.TrayBlinkingEnabled},
            {"AlwaysOnTop", &s.AlwaysOnTop},
            {"AutoUpdateEnabled", &s.AutoUpdateEnabled},
            {"SelectedAdapter", &s.SelectedAdapter}};
}

void Print(std::string_view name, const Setting& setting) {
    if (auto* d = std::get_if<fv::DwordSetting*>(&setting)) {
        std::printf("%.*s=%u\n", int(name.size()), name.data(), unsigned((*d)->value));
    } else {
        const std::string& text = std::get<fv::StringSetting*>(setting)->Value();
        std::printf("%.*s=%s\n", int(name.size()), name.data(), text.c_str());
    }
}

bool Assign(const Setting& setting, std::string_view text) {
    if (auto* d = std::get_if<fv::DwordSetting*>(&setting)) {
        const std::string digits(text);
        char* end = nullptr;
        const unsigned long value = std::strtoul(digits.c_str(), &end, 10);
        if (digits.empty() || *end != '\0' || value > 0xFFFFFFFFul) return false;
        (*d)->Set(std::uint32_t(value));
        return true;
    }
    std::get<fv::StringSetting*>(setting)->Set(text);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    fv::Settings settings;
    const auto table = Table(settings);
    if (argc == 1) {
        for (const auto& [name, setting] : table) Print(name, setting);
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        if (name == "TotalBlocked" || name == "TotalGranted") {
            fv::PacketStatistics statistics;
            const std::int64_t total = name == "TotalBlocked" ? statistics.GetTotalBlocked()
                                                                : statistics.GetTotalGranted();
            std::printf("%.*s=%lld\n", int(name.size()), name.data(), static_cast<long long>(total));
            continue;
        }
        const auto found = std::find_if(table.begin(), table.end(),
                                        [&](const auto& entry) { return entry.first == name; });
        if (found == table.end()) {
            std::fprintf(stderr, "ferrovane-settings: no setting named %.*s\n", int(name.size()),
                         name.data());
            return 2;
        }
        if (equals == std::string_view::npos) {
            Print(found->first, found->second);
        } else if (!Assign(found->second, argument.substr(equals + 1))) {
            std::fprintf(stderr, "ferrovane-settings: %.*s takes a number\n", int(name.size()),
                         name.data());
            return 2;
        }
    }
    return 0;
}
