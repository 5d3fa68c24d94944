#include "fv_gui/dialogs/PreferencesEffects.h"

#include "fv_gui/settings/Settings.h"

namespace fv::dialogs {

void ApplyPreferencesToSystem(PreferencesTarget& target, const Settings& settings) {
    target.SetPopupGaps(settings.PopupTimeout.value);
    const bool session = target.HasSession();
    if (session) target.SetGrantedCacheLimit(settings.LogCollectorLimit.value);

    const bool alwaysVisible = settings.TrayAlwaysVisible.value != 0;
    if (alwaysVisible != target.TrayAlwaysVisible()) target.SetTrayAlwaysVisible(alwaysVisible);

    const bool blockedToFile = settings.LogBlockedToFile.value != 0;
    const bool grantedToFile = settings.LogGrantedToFile.value != 0;
    if ((blockedToFile || grantedToFile) && target.HasLogWriter()) {
        target.ChangeLogFolder(settings.LogPath.Value());
    }
    target.ReportLoggingState();

    if (settings.AutoUpdateEnabled.value == 0) {
        target.StopReloadTimer();
    } else if (!target.ReloadTimerMarked()) {
        target.StartReloadTimer(kReloadPeriodMs);
    }
    target.PostRestoreLoggers();

    if (session) {
        target.SetReportGranted(grantedToFile);
        target.SetReportBlocked(blockedToFile);
    }
}

bool ShowPreferences(PreferencesTarget& target, const Settings& settings,
                     const std::function<bool()>& runDialog) {
    if (!target.AdapterSelected()) {
        target.ShowInformation(kSelectAdapterFirst);
        return false;
    }
    target.EnableTrayCommands(false);
    const bool applied = runDialog();
    if (applied) ApplyPreferencesToSystem(target, settings);
    target.EnableTrayCommands(true);
    return true;
}

}  // namespace fv::dialogs
