// The main window's commands: filtering, counters, log file, web pages, window placement and
// the blocklist load and reload that replace the driver session.
#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QUrl>

#include "fv_gui/app/CAdapterComboBox.h"
#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/app/MainMenu.h"
#include "fv_gui/app/WebPages.h"
#include "fv_gui/controls/CFlatButton.h"
#include "fv_gui/controls/CLabel.h"
#include "fv_gui/logview/CLogWindow.h"
#include "fv_gui/notify/CStatusLamp.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"

namespace fv {
namespace {

constexpr const char kResetCounterText[] = "0 / 0";

class CommandScope {
public:
    explicit CommandScope(bool& running) : running_(running) { running_ = true; }
    ~CommandScope() { running_ = false; }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    bool& running_;
};

void SetTrayLabel(QAction* item, const char* text) {
    if (item) item->setText(QString::fromLatin1(text));
}

}  // namespace

void CMainDialog::ToggleFiltering() {
    if (!session_ || commandRunning_) return;
    CommandScope scope(commandRunning_);
    if (session_->FilteringOn()) {
        if (!session_->SetFiltering(false)) {
            ReportStatus(StatusKind::Error, texts::kStopError);
            Message(texts::kStopErrorBox, MessageKind::Error);
            return;
        }
        ReportStatus(StatusKind::Information, texts::kStopping);
        consumers_->StopConsumers();
        // No blink can start now; one underway would end on the filtering icon after ours.
        StopBlinking();
        startButton_->setText(QString::fromLatin1(texts::kStartLabel));
        SetLampState(kLampReady);
        SetTrayLabel(TrayItem(kTrayStartStopPosition), texts::kStartLabel);
        // Gives the driver's last records time to be drained before the icon says "stopped".
        services_.sleep(kStopSettleMs);
        (void)SetTrayIcon(res::kIconTrayStopped);
        ReportStatus(StatusKind::Information, texts::kStopped);
        return;
    }
    if (StartFiltering()) {
        (void)SetTrayIcon(res::kIconTrayActive);
        ShowFilteringStarted();
        ReportStatus(StatusKind::Information, texts::kStarted);
    } else {
        ReportStatus(StatusKind::Error, texts::kStartError);
        Message(texts::kStartErrorBox, MessageKind::Error);
    }
}

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

void CMainDialog::ToggleAlwaysOnTop() {
    const bool on = settings_->AlwaysOnTop.value == 0;
    alwaysOnTopItem_->setChecked(on);
    settings_->AlwaysOnTop.Set(on ? 1 : 0);
    SetTopMost(on);
}

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

void CMainDialog::ResetGrantedCounts() {
    if (statistics_) {
        if (session_) statistics_->ResetRunningGranted();
        statistics_->ResetTotalGranted();
    }
    grantedCounter_->SetText(QString::fromLatin1(kResetCounterText));
}

void CMainDialog::ResetBlockedCounts() {
    if (statistics_) {
        if (session_) statistics_->ResetRunningBlocked();
        statistics_->ResetTotalBlocked();
    }
    blockedCounter_->SetText(QString::fromLatin1(kResetCounterText));
}

// --- blocklist load and reload

bool CMainDialog::ReplaceSession(const char* announcement, bool& wasFiltering) {
    wasFiltering = false;
    if (session_ && session_->FilteringOn()) {
        if (!session_->SetFiltering(false)) {
            Message(texts::kStopErrorBox, MessageKind::Error);
            // The program ends once the command returns; the replacement goes on meanwhile.
            EndDialog(kResultOk);
            ReportStatus(StatusKind::Error, texts::kStopErrorReload);
        }
        consumers_->StopConsumers();
        StopBlinking();
        SetLampState(kLampReady);
        ReportStatus(StatusKind::Information, announcement);
        startButton_->setText(QString::fromLatin1(texts::kStartLabel));
        // The tray says what the window says, so that its Start/Stop item does what it shows.
        SetTrayLabel(TrayItem(kTrayStartStopPosition), texts::kStartLabel);
        (void)SetTrayIcon(res::kIconTrayStopped);
        wasFiltering = true;
    }
    if (session_) {
        session_->CloseSession();
        session_.reset();
    }
    startButton_->setEnabled(false);
    SetTrayItemEnabled(kTrayStartStopPosition, false);
    PrepareSessionParameters();
    session_ = std::make_unique<DriverSession>(services_.messages);
    (void)session_->ProbeDriver(versionInfo_);
    adapterSelector_->FillAdapters(session_->Adapters());
    adapterSelector_->setEnabled(true);
    if (!session_->OpenSession(parameters_)) {
        ReportStatus(StatusKind::Error, texts::kBadInstallation);
        Message(texts::kDriverNotLoadedBox, MessageKind::Error);
        return false;
    }
    return true;
}

void CMainDialog::LoadIpTable() {
    if (commandRunning_) return;
    CommandScope scope(commandRunning_);
    if (adapterSelector_->currentIndex() == 0) {
        ReportStatus(StatusKind::Warning, texts::kNoAdapter);
        ReportContinuation(texts::kNoAdapterHint);
        return;
    }
    const std::string chosen = services_.chooseBlocklist
                                   ? services_.chooseBlocklist()
                                   : QFileDialog::getOpenFileName(this, QString(), QStringLiteral("*.p2p"),
                                                                  QStringLiteral("IP table (*.p2p)"))
                                         .toStdString();
    if (chosen.empty()) {
        blocklistPath_ = settings_->IPDB.Value();
        const StatusRow row = CancelledLoadRow(blocklistPath_);
        ReportStatus(row.kind, row.text);
        return;
    }
    blocklistPath_ = chosen;
    ReportStatus(StatusKind::Information, SelectedDatabaseText(blocklistPath_));
    bool wasFiltering = false;
    if (!ReplaceSession(texts::kSelecting, wasFiltering)) return;
    settings_->IPDB.Set(blocklistPath_);
    adapterSelector_->SelectAdapterByName(parameters_.selectedAdapter);
    if (wasFiltering) StartFilteringOrReport();
    ReportTableLoaded(texts::kTableLoaded);
}

void CMainDialog::ReloadIpTable() {
    if (commandRunning_) return;
    CommandScope scope(commandRunning_);
    ReportStatus(StatusKind::Information, texts::kCheckingUpdates);
    bool wasFiltering = false;
    if (!ReplaceSession(texts::kReloading, wasFiltering)) return;
    adapterSelector_->SelectAdapterByName(parameters_.selectedAdapter);
    StartFilteringOrReport();
    ReportTableLoaded(texts::kTableReloaded);
}

}  // namespace fv
