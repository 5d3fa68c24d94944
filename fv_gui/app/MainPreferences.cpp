// The preferences and about commands, and what applied preferences change in the running
// system: popup gaps, the granted cache, the tray icon, the log folder, the reload timer and the
// driver's report switches.
#include "fv_gui/app/CAdapterComboBox.h"
#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/controls/CFlatButton.h"
#include "fv_gui/dialogs/CAboutDialog.h"
#include "fv_gui/logging/ConnectionLog.h"
#include "fv_gui/notify/TaskbarNotifier.h"

namespace fv {

// The window and its controller as the preferences see them, for one run of the dialog.
struct CMainDialog::PreferencesLink final : dialogs::PreferencesTarget {
    explicit PreferencesLink(CMainDialog& window) : window(window), controller(*window.controller_) {}

    [[nodiscard]] bool AdapterSelected() const override { return window.AdapterSelected(); }
    void ShowInformation(const std::string& text) override { window.ShowInformation(text); }
    void EnableTrayCommands(bool enable) override {
        // Start/Stop comes back only where the Start button allows it: without a usable session
        // it would start nothing, or report a start failure that never was.
        window.SetTrayItemEnabled(kTrayStartStopPosition, enable && window.startButton_->isEnabled());
        window.SetTrayItemEnabled(kTrayQuitPosition, enable);
    }
    void SetPopupGaps(std::uint32_t milliseconds) override {
        window.SetBalloonMinimumGap(milliseconds);
        window.notifier_->SetMinimumGap(milliseconds);
    }
    [[nodiscard]] bool HasSession() const override { return controller.Session() != nullptr; }
    void SetGrantedCacheLimit(std::uint32_t limit) override {
        if (const auto cache = controller.Session() ? controller.Session()->GrantedCache() : nullptr) cache->SetLimit(limit);
    }
    [[nodiscard]] bool TrayAlwaysVisible() const override { return window.IsTrayAlwaysVisible(); }
    void SetTrayAlwaysVisible(bool on) override { window.SetTrayAlwaysVisible(on); }
    [[nodiscard]] bool HasLogWriter() const override { return controller.Session() && controller.Session()->Log(); }
    void ChangeLogFolder(const std::string& folder) override {
        // The writer reports a failure itself and goes on in the old file.
        if (const auto log = controller.Session() ? controller.Session()->Log() : nullptr) (void)log->ChangeFolder(folder);
    }
    void ReportLoggingState() override { window.ReportLoggingState(); }
    void StopReloadTimer() override { controller.StopReloadTimer(); }
    [[nodiscard]] bool ReloadTimerMarked() const override { return controller.ReloadTimerMarked(); }
    void StartReloadTimer(std::uint32_t milliseconds) override { controller.StartReloadTimer(milliseconds); }
    void PostRestoreLoggers() override {
        QMetaObject::invokeMethod(&window, &CTrayIconDialog::RestoreLoggersToo, Qt::QueuedConnection);
    }
    void SetReportGranted(bool on) override {
        if (DriverSession* session = controller.Session()) session->SetReportGranted(on);
    }
    void SetReportBlocked(bool on) override {
        if (DriverSession* session = controller.Session()) session->SetReportBlocked(on);
    }

    CMainDialog& window;
    SessionController& controller;
};

void CMainDialog::ShowPreferences() {
    dialogs::PreferencesHooks hooks = services_.preferences;
    hooks.shown = services_.dialogShown;
    PreferencesLink link(*this);
    (void)dialogs::ShowPreferences(link, *settings_, this, std::move(hooks));
}

void CMainDialog::ShowAbout(bool guarded) {
    const DriverVersionInfo& version = controller_->VersionInfo();
    const bool ready = controller_->DriverReady();
    if (guarded) (void)dialogs::RunAboutBoxGuarded(version, ready, this, services_.dialogShown);
    else dialogs::RunAboutBox(version, ready, this, services_.dialogShown);
}

bool CMainDialog::AdapterSelected() const { return adapterSelector_->currentIndex() != 0; }

void CMainDialog::ShowInformation(const std::string& text) { Message(text, MessageKind::Information); }

}  // namespace fv

