// What the main window shows in words: its status rows, message boxes and title, with the few
// rules that choose between them. No Qt, so the rules are tested directly.
#pragma once

#include <cstdint>
#include <string>

namespace fv {

// Status row kinds: the list's icon index.
enum class StatusKind : int { Information = 0, Error = 1, Warning = 2 };

struct StatusRow {
    StatusKind kind;
    std::string text;
};

namespace texts {

inline constexpr const char kAlreadyRunning[] =
    "Ferrovane is already running!\r\nOnly one instance can be executed.";
inline constexpr const char kBadInstallation[] = "Ferrovane.sys failure. Bad installation detected.";
inline constexpr const char kDriverNotLoadedBox[] =
    "Ferrovane Driver is not loaded.\r\nUninstall the driver from Network Adapter,\r\n"
    "Reinstall it from the install Directory \r\nthen reload the application.";
inline constexpr const char kDriverNotReady[] = "Ferrovane driver is *NOT* loaded or is not ready!";
inline constexpr const char kReady[] = "Ferrovane is ready!";
inline constexpr const char kNoAdapter[] = "You haven't selected an adapter yet.";
inline constexpr const char kNoAdapterHint[] = "Please select the adapter that let's you \"surf the web\" ;)";
inline constexpr const char kInvalidAdapter[] = "The selected adapter is invalid!";
inline constexpr const char kFailure[] = "Ferrovane failure.";
inline constexpr const char kStartError[] = "Error starting Ferrovane.";
inline constexpr const char kStartErrorBox[] = "Error while starting!\n";
inline constexpr const char kStopError[] = "Error stopping Ferrovane.";
inline constexpr const char kStopErrorReload[] = "Error stopping Ferrovane!";
inline constexpr const char kStopErrorBox[] = "Error while stopping!\n";
inline constexpr const char kStopping[] = "Please Wait - Stopping Ferrovane Now......";
inline constexpr const char kStopped[] = "Ferrovane stopped.";
inline constexpr const char kStarted[] = "Ferrovane started.";
inline constexpr const char kTableLoaded[] = "IP table loaded.";
inline constexpr const char kTableReloaded[] = "IP table re-loaded.";
inline constexpr const char kNoLogFile[] = "No log file to open!";
inline constexpr const char kNotLogging[] = "Not logging.";
inline constexpr const char kCheckingUpdates[] = "Checking for updates...";
inline constexpr const char kReloading[] = "Reloading IP table...";
inline constexpr const char kSelecting[] = "Selecting IP table...";
inline constexpr const char kNoPreviousTable[] = "Previous IP table was not found, cannot reload it.";
inline constexpr const char kStartLabel[] = "Start";
inline constexpr const char kStopLabel[] = "Stop";
inline constexpr const char kNotAvailable[] = "n/a";
inline constexpr const char kNotSelected[] = "<not selected>";
inline constexpr const char kMessageCaption[] = "Ferrovane";

}  // namespace texts

// "Ferrovane v2.01 (build 9) **BETA**": the caption and the tray icon's hover text.
std::string TitleText();

// Which "to file" switches are on decides the row; `logPath` ends with "/".
StatusRow LoggingStateRow(bool blockedToFile, bool grantedToFile, const std::string& logPath);

// "Using \"<path>\" as IP database."
std::string UsingDatabaseText(const std::string& path);
// "There are <addresses> known IPs in <ranges> ranges."
std::string KnownAddressesText(std::uint64_t addresses, std::int32_t ranges);
// The load command's rows for a chosen file and for a cancelled dialog with `ipdb` stored.
std::string SelectedDatabaseText(const std::string& path);
StatusRow CancelledLoadRow(const std::string& ipdb);

}  // namespace fv
