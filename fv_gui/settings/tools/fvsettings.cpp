// ferrovane-settings [NAME[=VALUE]]...: sets or prints the program's settings, and prints the
// lifetime totals, in the registry the program would use ($FERROVANE_REGISTRY_DIR honoured).
// With no argument it prints every setting. Used by the demo and the system tests to prepare
// and read back a run.
//
// Exit status: 0 when every value was printed or written; 1 when a hive could not be read or a
// write failed (what could be done is done); 2 for an unknown name or a value that is not one
// (nothing after it is done).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

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

void Complain(std::string_view name, const char* what) {
    std::fprintf(stderr, "ferrovane-settings: %.*s: %s\n", int(name.size()), name.data(), what);
}

bool Unreadable(const Setting& setting) {
    if (auto* d = std::get_if<fv::DwordSetting*>(&setting)) return (*d)->reg.Unreadable();
    return std::get<fv::StringSetting*>(setting)->reg.Unreadable();
}

// A hive that cannot be read gives the defaults, which must not pass for what it holds.
int Print(std::string_view name, const Setting& setting) {
    if (Unreadable(setting)) {
        Complain(name, "the registry hive cannot be read");
        return kFailed;
    }
    if (auto* d = std::get_if<fv::DwordSetting*>(&setting)) {
        std::printf("%.*s=%u\n", int(name.size()), name.data(), unsigned((*d)->value));
    } else {
        const std::string& text = std::get<fv::StringSetting*>(setting)->Value();
        std::printf("%.*s=%s\n", int(name.size()), name.data(), text.c_str());
    }
    return 0;
}

// Decimal digits only, no sign or blank, at most 4294967295.
std::optional<std::uint32_t> ParseDword(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

int PrintTotal(std::string_view name, const char* path) {
    fv::RegistryString total(path, "0", fv::Hive::LocalMachine);
    if (total.Unreadable()) {
        Complain(name, "the machine's registry hive cannot be read");
        return kFailed;
    }
    std::printf("%.*s=%lld\n", int(name.size()), name.data(),
                static_cast<long long>(fv::ParseDecimalTotal(total.Get())));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    fv::Settings settings;
    const auto table = Table(settings);
    int status = 0;
    if (argc == 1) {
        for (const auto& [name, setting] : table) status = std::max(status, Print(name, setting));
        return status;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        if (name == "TotalBlocked" || name == "TotalGranted") {
            if (equals != std::string_view::npos) {
                Complain(name, "the totals are only counted by the program, not set");
                return kUsage;
            }
            status = std::max(status, PrintTotal(name, name == "TotalBlocked" ? fv::kTotalBlockedPath
                                                                             : fv::kTotalGrantedPath));
            continue;
        }
        const auto found = std::find_if(table.begin(), table.end(),
                                        [&](const auto& entry) { return entry.first == name; });
        if (found == table.end()) {
            Complain(name, "no setting of that name");
            return kUsage;
        }
        if (equals == std::string_view::npos) {
            status = std::max(status, Print(found->first, found->second));
            continue;
        }
        const std::string_view text = argument.substr(equals + 1);
        bool written;
        if (auto* d = std::get_if<fv::DwordSetting*>(&found->second)) {
            const std::optional<std::uint32_t> value = ParseDword(text);
            if (!value) {
                Complain(name, "takes a number of decimal digits from 0 to 4294967295");
                return kUsage;
            }
            written = (*d)->Set(*value);
        } else {
            written = std::get<fv::StringSetting*>(found->second)->Set(text);
        }
        if (!written) {
            Complain(name, "could not be written to the registry hive");
            status = kFailed;
        }
    }
    return status;
}
