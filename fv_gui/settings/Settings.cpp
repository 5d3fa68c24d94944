#include "fv_gui/settings/Settings.h"

#include <unistd.h>

#include <climits>
#include <fstream>

#include "fv_platform/LockedFile.h"
#include "fv_platform/Text.h"

namespace fv {

namespace {

std::string SettingPath(std::string_view name) {
    return std::string(kSettingsKey) + std::string(name);
}

}  // namespace

std::string ProgramPath() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    return std::string(path, static_cast<std::size_t>(length));
}

DwordSetting::DwordSetting(std::string_view name, std::uint32_t defaultValue)
    : reg(SettingPath(name), defaultValue), value(0) {
    value = reg.Found() ? reg.LastValue() : reg.Default();
}

StringSetting::StringSetting(std::string_view name, std::string defaultValue)
    : reg(SettingPath(name), std::move(defaultValue)) {
    value = reg.Found() ? reg.LastValue() : reg.Default();
}

std::string Settings::StartupDirectory() {
    char buffer[1024];
    if (::getcwd(buffer, sizeof buffer) == nullptr) return {};
    std::string directory(buffer);
    if (directory.empty() || directory.back() != '/') directory += '/';
    return directory;
}

Settings::Settings(std::string programPath)
    : IPDB("IPDB", StartupDirectory() + kDefaultBlocklistName),
      LogPath("LogPath", StartupDirectory()),
      BaseLogFilename("BaseLogFilename", kDefaultLogFilename),
      Popup("Popup", 1),
      PopupTimeout("PopupTimeout", 120000),
      LogBlockedToVideo("LogBlockedToVideo", 1),
      LogGrantedToVideo("LogGrantedToVideo", 1),
      LogBlockedToFile("LogBlockedToFile", 1),
      LogGrantedToFile("LogGrantedToFile", 1),
      LogCollectorLimit("LogCollectorLimit", 500),
      AutoStart("AutoStart", 0),
      LoadMinimized("LoadMinimized", 0),
      TrayAlwaysVisible("TrayAlwaysVisible", 1),
      TrayBlinkingEnabled("TrayBlinkingEnbaled", 1),
      AlwaysOnTop("AlwaysOnTop", 0),
      AutoUpdateEnabled("AutoUpdateEnabled", 0),
      SelectedAdapter("SelectedAdapter", ""),
      AutostartEntry(std::string(registry::kRunKey) + "\\" + registry::kRunValueName, "",
                     Hive::CurrentUser),
      programPath_(programPath.empty() ? ProgramPath() : std::move(programPath)) {}

Settings::~Settings() {
    for (DwordSetting* setting :
         {&Popup, &PopupTimeout, &LogBlockedToVideo, &LogGrantedToVideo, &LogBlockedToFile,
          &LogGrantedToFile, &LogCollectorLimit, &AutoStart, &LoadMinimized, &TrayAlwaysVisible,
          &TrayBlinkingEnabled, &AlwaysOnTop, &AutoUpdateEnabled}) {
        setting->reg.WriteBack(setting->value);
    }
}

bool Settings::CheckBlocklistFile() const {
    return LockedFile::IsUnshared(IPDB.value);
}

bool Settings::CheckLogFile() const {
    return std::ifstream(LogPath.value + BaseLogFilename.value).is_open();
}

std::pair<bool, std::string> Settings::CheckAutostartEntry() {
    const std::string entry = AutostartEntry.Read();
    if (entry.empty()) return {false, {}};
    if (EqualNoCase(entry, programPath_)) return {true, {}};
    return {false, kAutostartInvalidMessage};
}

void Settings::SetAutostartEntry(bool on) {
    AutostartEntry.Set(on ? programPath_ : std::string());
}

}  // namespace fv
