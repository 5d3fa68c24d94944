// The preferences and about commands, and what applied preferences change in the running
// window: popup gaps, the granted cache, the tray icon, the log folder, the reload timer and the
// driver's report switches.
#include "fv_gui/app/CAdapterComboBox.h"
#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/controls/CFlatButton.h"
#include "fv_gui/dialogs/CAboutDialog.h"
#include "fv_gui/logging/ConnectionLog.h"
#include "fv_gui/notify/TaskbarNotifier.h"

namespace fv {

void CMainDialog::ShowPreferences() {
    dialogs::PreferencesHooks hooks = services_.preferences;
    hooks.shown = services_.dialogShown;
    (void)dialogs::ShowPreferences(*this, *settings_, this, std::move(hooks));
}

void CMainDialog::ShowAbout(bool guarded) {
    if (guarded) (void)dialogs::RunAboutBoxGuarded(versionInfo_, driverReady_, this, services_.dialogShown);
    else dialogs::RunAboutBox(versionInfo_, driverReady_, this, services_.dialogShown);
}

bool CMainDialog::AdapterSelected() const { return adapterSelector_->currentIndex() != 0; }

void CMainDialog::ShowInformation(const std::string& text) { Message(text, MessageKind::Information); }

void CMainDialog::EnableTrayCommands(bool enable) {
    // Start/Stop comes back only where the Start button allows it: without a usable session it
    // would start nothing, or report a start failure that never was.
    SetTrayItemEnabled(kTrayStartStopPosition, enable && startButton_->isEnabled());
    SetTrayItemEnabled(kTrayQuitPosition, enable);
}

void CMainDialog::SetPopupGaps(std::uint32_t milliseconds) {
    SetBalloonMinimumGap(milliseconds);
    notifier_->SetMinimumGap(milliseconds);
}

void CMainDialog::SetGrantedCacheLimit(std::uint32_t limit) {
    if (!session_) return;
    if (const auto cache = session_->GrantedCache()) cache->SetLimit(limit);
}

bool CMainDialog::HasLogWriter() const { return session_ && session_->Log(); }

void CMainDialog::ChangeLogFolder(const std::string& folder) {
    // The writer reports a failure itself and goes on in the old file.
    if (const auto log = session_ ? session_->Log() : nullptr) (void)log->ChangeFolder(folder);
}

void CMainDialog::PostRestoreLoggers() {
    QMetaObject::invokeMethod(this, &CTrayIconDialog::RestoreLoggersToo, Qt::QueuedConnection);
}

void CMainDialog::SetReportGranted(bool on) {
    if (session_) session_->SetReportGranted(on);
}

void CMainDialog::SetReportBlocked(bool on) {
    if (session_) session_->SetReportBlocked(on);
}

}  // namespace fv
