// Every persisted setting of the program (current user's hive, "Software\Ferrovane\Settings\")
// and the autostart entry (the current user's Run key).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "fv_gui/settings/RegistryValue.h"

namespace fv {

inline constexpr const char kSettingsKey[] = "Software\\Ferrovane\\Settings\\";
inline constexpr const char kDefaultBlocklistName[] = "ridozeru.p2p";
inline constexpr const char kDefaultLogFilename[] = "fvconns.log";
inline constexpr const char kAutostartInvalidMessage[] =
    "Currently the program will not autostart with Windows because the registry entry is invalid,\r\n"
    "maybe the application has been moved.\r\n"
    "Once corrected, the program will autostart with Windows.\r\n\r\n"
    "Do you want Ferrovane correct automatically this for you?";

// The running program's full path (/proc/self/exe).
std::string ProgramPath();

// A 32-bit setting: its registry value and the current value the program reads and changes.
// The current value is atomic: the reader threads read it while the window thread changes it.
struct DwordSetting {
    DwordSetting(std::string_view name, std::uint32_t defaultValue);
    // Changes the current value and writes it at once (nothing when the registry holds it).
    // False when the write failed.
    bool Set(std::uint32_t newValue) {
        value = newValue;
        return reg.Set(newValue);
    }
    RegistryDword reg;
    std::atomic<std::uint32_t> value;
};

struct StringSetting {
    StringSetting(std::string_view name, std::string defaultValue);
    const std::string& Value() const { return value; }
    bool Set(std::string_view newValue) {
        value = std::string(newValue);
        return reg.Set(newValue);
    }
    RegistryString reg;
    std::string value;  // what the read returned, then what Set wrote
};

class Settings {
public:
    // Reads every setting in the order of the table; the defaults of IPDB and LogPath come
    // from the current directory (with a trailing "/"). `programPath` is the path the autostart
    // entry holds when on (ProgramPath() when empty).
    explicit Settings(std::string programPath = {});
    // Writes back every 32-bit setting whose current value differs from the registry's (not
    // over a value whose hive could not be read).
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // The current directory as the defaults use it: ends with "/".
    static std::string StartupDirectory();

    // True when the IPDB file opens for reading with nobody else holding it (no other
    // advisory lock on it); it is closed again at once.
    bool CheckBlocklistFile() const;
    // True when LogPath followed by BaseLogFilename opens for reading.
    bool CheckLogFile() const;
    // (on, message): off with an empty message when the entry is empty, on when it equals the
    // program's path without regard to letter case, else off with kAutostartInvalidMessage.
    std::pair<bool, std::string> CheckAutostartEntry();
    void SetAutostartEntry(bool on);

    const std::string& ProgramFile() const { return programPath_; }

    StringSetting IPDB;
    StringSetting LogPath;
    StringSetting BaseLogFilename;
    DwordSetting Popup;
    DwordSetting PopupTimeout;
    DwordSetting LogBlockedToVideo;
    DwordSetting LogGrantedToVideo;
    DwordSetting LogBlockedToFile;
    DwordSetting LogGrantedToFile;
    DwordSetting LogCollectorLimit;
    DwordSetting AutoStart;
    DwordSetting LoadMinimized;
    DwordSetting TrayAlwaysVisible;
    DwordSetting TrayBlinkingEnabled;  // stored as "TrayBlinkingEnbaled", the name the hive has always held
    DwordSetting AlwaysOnTop;
    DwordSetting AutoUpdateEnabled;
    StringSetting SelectedAdapter;
    RegistryString AutostartEntry;

private:
    std::string programPath_;
};

}  // namespace fv
