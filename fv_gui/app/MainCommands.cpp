// The main window's commands: filtering, counters, log file, web pages, window placement and
// the blocklist load and reload, which the session controller carries out.
#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QUrl>

#include "fv_gui/app/CAdapterComboBox.h"
#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/app/MainMenu.h"
#include "fv_gui/app/WebPages.h"
#include "fv_gui/controls/CLabel.h"
#include "fv_gui/logview/CLogWindow.h"
#include "fv_gui/settings/Settings.h"

namespace fv {
namespace {

constexpr const char kResetCounterText[] = "0 / 0";

}  // namespace

void CMainDialog::ToggleFiltering() { controller_->ToggleFiltering(); }

void CMainDialog::ShowLogFile() {
    if (!settings_->CheckLogFile()) {
        Message(texts::kNoLogFile);
        return;
    }
    const std::string path = settings_->LogPath.Value() + settings_->BaseLogFilename.Value();
    (void)services_.openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void CMainDialog::OpenWebPage(int command) {
    const char* page = command == kCommandDonate ? kDonationPage : kWebSupportPage;
    (void)services_.openUrl(QUrl(QString::fromLatin1(page)));
}

void CMainDialog::ToggleAlwaysOnTop() { SetTopMost(settings_->AlwaysOnTop.value == 0); }

void CMainDialog::HideToTray() {
    (void)AddTrayIcon();
    // Without a tray icon a hidden window could never be brought back.
    if (!IsTrayIconShown()) return;
    if (blockedLog_) blockedLog_->hide();
    if (grantedLog_) grantedLog_->hide();
    hide();
}

void CMainDialog::RestoreFromTray() {
    if (settings_->TrayAlwaysVisible.value || RemoveTrayIcon()) {
        showNormal();
        show();
        raise();
        activateWindow();
    }
    QMetaObject::invokeMethod(this, &CTrayIconDialog::RestoreLoggersToo, Qt::QueuedConnection);
}

void CMainDialog::ResetCounter(int kind) {
    if (kind == kGranted) controller_->ResetGranted();
    else controller_->ResetBlocked();
    (kind == kGranted ? grantedCounter_ : blockedCounter_)->SetText(QString::fromLatin1(kResetCounterText));
}

void CMainDialog::LoadIpTable() {
    // Turned away before the adapter is looked at, as the controller would turn the load away.
    if (controller_->Busy()) return;
    if (!AdapterSelected()) {
        ShowStatus(StatusKind::Warning, texts::kNoAdapter);
        ShowContinuation(texts::kNoAdapterHint);
        return;
    }
    // The file dialog runs inside the command, so nothing else starts while it is open.
    controller_->Load([this] {
        if (services_.chooseBlocklist) return services_.chooseBlocklist();
        return QFileDialog::getOpenFileName(this, QString(), QStringLiteral("*.p2p"), QStringLiteral("IP table (*.p2p)"))
            .toStdString();
    });
}

void CMainDialog::ReloadIpTable() { controller_->Reload(); }

}  // namespace fv
