// What the preferences command does around the dialog: it refuses without an adapter, greys the
// tray's Start/Stop and Quit while the dialog is open, and carries applied settings over to the
// running system. The main window implements PreferencesTarget for itself and its controller.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace fv {
class Settings;
}

namespace fv::dialogs {

inline constexpr char kSelectAdapterFirst[] =
    "In order to adjust settings you need to select a valid network adapter.";
// The blocklist reload timer's period when automatic reloading is switched on.
inline constexpr std::uint32_t kReloadPeriodMs = 120000;

class PreferencesTarget {
public:
    virtual ~PreferencesTarget() = default;

    // False while the adapter selector shows "<not selected>".
    [[nodiscard]] virtual bool AdapterSelected() const = 0;
    virtual void ShowInformation(const std::string& text) = 0;
    // Tray menu positions 1 (Start/Stop) and 2 (Quit); enabling leaves Start/Stop grey where
    // there is nothing to start.
    virtual void EnableTrayCommands(bool enable) = 0;

    // The balloon's and the notifier popup's least time between two notifications.
    virtual void SetPopupGaps(std::uint32_t milliseconds) = 0;
    [[nodiscard]] virtual bool HasSession() const = 0;
    // The session's seen-granted address set.
    virtual void SetGrantedCacheLimit(std::uint32_t limit) = 0;
    [[nodiscard]] virtual bool TrayAlwaysVisible() const = 0;
    // Stores the tray's always-visible flag and adds (on) or removes (off) the tray icon.
    virtual void SetTrayAlwaysVisible(bool on) = 0;
    [[nodiscard]] virtual bool HasLogWriter() const = 0;
    // Moves the connection log to `folder` (ends with "/"); the outcome is the writer's to report.
    virtual void ChangeLogFolder(const std::string& folder) = 0;
    virtual void ReportLoggingState() = 0;
    // Kills the reload timer and clears the auto-reload timer mark.
    virtual void StopReloadTimer() = 0;
    [[nodiscard]] virtual bool ReloadTimerMarked() const = 0;
    // Starts the reload timer; the mark is left as it is.
    virtual void StartReloadTimer(std::uint32_t milliseconds) = 0;
    // Posts "RestoreLoggersToo" to the main window.
    virtual void PostRestoreLoggers() = 0;
    // The session's driver report switches, granted first.
    virtual void SetReportGranted(bool on) = 0;
    virtual void SetReportBlocked(bool on) = 0;
};

// Carries settings the dialog has just stored over to the running system.
void ApplyPreferencesToSystem(PreferencesTarget& target, const Settings& settings);

// The preferences command: `runDialog` runs the dialog modally and returns whether it was
// applied. False when the dialog did not open for want of an adapter.
bool ShowPreferences(PreferencesTarget& target, const Settings& settings,
                     const std::function<bool()>& runDialog);

}  // namespace fv::dialogs
