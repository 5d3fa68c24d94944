// The main window's life: the modal run, the start-up sequence and the shutdown sequence.
#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QMenu>

#include "fv_gui/app/CAdapterComboBox.h"
#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/app/MainMenu.h"
#include "fv_gui/controls/CFlatButton.h"
#include "fv_gui/controls/CLabel.h"
#include "fv_gui/logview/CLogListCtrl.h"
#include "fv_gui/logview/CLogWindow.h"
#include "fv_gui/notify/CControlTip.h"
#include "fv_gui/notify/CStatusLamp.h"
#include "fv_gui/notify/TaskbarNotifier.h"
#include "fv_gui/notify/WindowCommands.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"

namespace fv {
namespace {

constexpr const char kSingleInstanceLock[] = "FerrovaneStarted";
constexpr int kSnapDistance = 8;
constexpr int kLogWindowHeight = 100;

// The popup's look.
constexpr int kCloseButtonLeft = 189;
constexpr int kCloseButtonTop = 33;
constexpr int kKeyRed = 255, kKeyGreen = 0, kKeyBlue = 255;
constexpr int kPopupFontTenths = 80;
constexpr QRgb kPopupTextColour = qRgb(0, 0, 140);
constexpr QRgb kPopupHoverColour = qRgb(0, 0, 255);
constexpr QRect kPopupTextRect{QPoint(18, 60), QPoint(201 - 1, 111 - 1)};

constexpr const char kTipResetGranted[] = "Reset the total number of packet\nthat has been granted until now.";
constexpr const char kTipResetBlocked[] = "Reset the total number of packet\nthat has been blocked until now.";
constexpr const char kTipViewLog[] = "Open the log file in notepad.";
constexpr const char kTipAdapter[] = "Select the network adapter that let's you surf\nthe web.";

}  // namespace

int CMainDialog::RunModal() {
    OnInitDialog();
    if (!ended_) {
        QEventLoop loop;
        loop_ = &loop;
        loop.exec();
        loop_ = nullptr;
    }
    OnDestroy();
    return result_;
}

void CMainDialog::EndDialog(int result) {
    if (ended_) return;
    ended_ = true;
    result_ = result;
    if (loop_) loop_->exit(result);
}

void CMainDialog::OnInitDialog() {
    // Invisible until the end of start-up; the frame's menu and the stopped tray icon.
    hide();
    mainMenu_ = LoadMainMenu();
    InitSkinnedFrame(this, mainMenu_.get(), false, true);
    (void)SetTrayIcon(res::kIconTrayStopped);
    // One instance only, and a driver that answers with a build this program speaks.
    if (!CheckSingleInstance() || !ProbeAndCheckDriver()) return;
    // The version check may have changed what the driver reported: ask again.
    versionInfo_ = DriverVersionInfo{};
    (void)session_->ProbeDriver(versionInfo_);
    // The hover tip, window snapping, the popup, the tray's tip and menu, the caption.
    SetUpTipAndNotifier();
    // The status list, the lamp, Start disabled until a table is loaded, bold values.
    statusList_->InitColumns();
    lamp_->Initialise();
    startButton_->setEnabled(false);
    SetTrayItemEnabled(kTrayStartStopPosition, false);
    for (CLabel* label : {blockedCounter_, grantedCounter_, macLabel_, mediumLabel_}) label->SetFontBold(true);
    // What the status list says first: the driver's state and where packets are logged.
    ReportDriverState();
    ReportLoggingState();
    // The stored totals; the consumers own the notify events the session's readers set.
    statistics_ = std::make_unique<PacketStatistics>();
    consumers_ = std::make_unique<PacketConsumers>(queue_, *settings_, *statistics_, *this);
    // The adapter, the blocklist and the session, filtering at once when asked to.
    OpenStartupSession();
    // Always on top, the counters, the window or the tray, and the reload timer.
    ApplyAlwaysOnTop();
    blockedCounter_->SetText(QString::fromStdString("0 / " + std::to_string(statistics_->GetTotalBlocked())));
    grantedCounter_->SetText(QString::fromStdString("0 / " + std::to_string(statistics_->GetTotalGranted())));
    ShowStartupWindow();
    reloadTimerMark_ = settings_->AutoUpdateEnabled.value != 0;
    if (reloadTimerMark_) StartReloadTimer(kReloadTimerMs);
}

bool CMainDialog::CheckSingleInstance() {
    if (singleInstance_.Create(kSingleInstanceLock) != NamedLock::Result::AlreadyHeld) return true;
    Message(texts::kAlreadyRunning);
    EndDialog(kResultOk);
    return false;
}

bool CMainDialog::ProbeAndCheckDriver() {
    session_ = std::make_unique<DriverSession>(services_.messages);
    if (!session_->ProbeDriver(versionInfo_)) {
        const bool refused = session_->ProbeError() == kErrorAccessDenied;
        session_.reset();
        if (refused) {
            // The driver is there but will not serve this user: say how to be let in.
            ReportStatus(StatusKind::Error, kAccessDeniedRow);
            Message(AccessDeniedText(CurrentDeviceUser()), MessageKind::Error);
        } else {
            ReportStatus(StatusKind::Error, texts::kBadInstallation);
            Message(texts::kDriverNotLoadedBox, MessageKind::Error);
        }
        EndDialog(kResultOk);
        return false;
    }
    if (!session_->CheckDriverVersion()) {
        const std::string text = session_->MessageText();
        session_.reset();
        Message(text, MessageKind::Error);
        EndDialog(kResultOk);
        return false;
    }
    return true;
}

void CMainDialog::SetUpTipAndNotifier() {
    tip_->Create(this);
    tip_->AddControlTip(resetGrantedButton_, QString::fromLatin1(kTipResetGranted));
    tip_->AddControlTip(resetBlockedButton_, QString::fromLatin1(kTipResetBlocked));
    tip_->AddControlTip(viewLogButton_, QString::fromLatin1(kTipViewLog));
    tip_->AddControlTip(adapterSelector_, QString::fromLatin1(kTipAdapter));
    tip_->SetOptions({true, true, true, true});
    qApp->installEventFilter(tip_);
    tipFiltering_ = true;

    snapper_->Register(selfSnap_.get(), true);
    snapper_->SetSnapDistance(kSnapDistance);

    notifier_->Create(this);
    (void)notifier_->SetSkin(res::kNotifierSkin, kKeyRed, kKeyGreen, kKeyBlue);
    (void)notifier_->SetCloseButton(res::kNotifierCloseButton, kCloseButtonLeft, kCloseButtonTop, kKeyRed,
                                    kKeyGreen, kKeyBlue);
    notifier_->SetTextFont(QStringLiteral("Tahoma"), kPopupFontTenths, 0, notify::kFontUnderline);
    notifier_->SetMinimumGap(settings_->PopupTimeout.value);
    notifier_->SetTextFormat(notify::DT_WORDBREAK);
    notifier_->SetTextColors(kPopupTextColour, kPopupHoverColour);
    notifier_->SetTextRect(kPopupTextRect);

    const QString title = QString::fromStdString(TitleText());
    (void)SetTrayIcon(res::kIconTrayStopped);
    SetTrayTip(title);
    SetTrayMenu(notify::kTrayMenu);
    SetBalloonMinimumGap(settings_->PopupTimeout.value);
    setWindowTitle(title);
}

void CMainDialog::ReportDriverState() {
    const bool present = session_->DriverPresent();
    if (QAction* load = notify::FindCommand(mainMenu_.get(), kCommandLoadIpTable)) load->setEnabled(present);
    if (present) ReportStatus(StatusKind::Information, texts::kReady);
    else ReportStatus(StatusKind::Error, texts::kDriverNotReady);
    driverReady_ = present;
    SetLampState(present ? kLampReady : kLampNotReady);
}

void CMainDialog::ReportLoggingState() {
    const StatusRow row = LoggingStateRow(settings_->LogBlockedToFile.value != 0,
                                          settings_->LogGrantedToFile.value != 0, settings_->LogPath.Value());
    ReportStatus(row.kind, row.text);
}

void CMainDialog::OpenStartupSession() {
    adapterSelector_->SetSettings(settings_.get());
    if (session_) adapterSelector_->FillAdapters(session_->Adapters());
    ShowAdapterInfo(nullptr);
    if (adapterSelector_->currentIndex() == 0) {
        ReportStatus(StatusKind::Warning, texts::kNoAdapter);
        ReportContinuation(texts::kNoAdapterHint);
        return;
    }
    if (!settings_->CheckBlocklistFile()) {
        session_.reset();
        adapterSelector_->setEnabled(false);
        return;
    }
    adapterSelector_->setEnabled(true);
    blocklistPath_ = settings_->IPDB.Value();
    ReportStatus(StatusKind::Information, UsingDatabaseText(blocklistPath_));
    PrepareSessionParameters();
    if (!session_->OpenSession(parameters_)) {
        if (settings_->SelectedAdapter.Value().empty()) ReportStatus(StatusKind::Warning, texts::kInvalidAdapter);
        else ReportStatus(StatusKind::Error, texts::kFailure);
        return;
    }
    adapterSelector_->SelectAdapterByName(parameters_.selectedAdapter);
    if (settings_->AutoStart.value) StartFilteringOrReport();
    ReportTableLoaded(texts::kTableLoaded);
}

void CMainDialog::StartFilteringOrReport() {
    if (StartFiltering()) {
        (void)SetTrayIcon(res::kIconTrayActive);
        ShowFilteringStarted();
    } else {
        ReportStatus(StatusKind::Error, texts::kStartError);
        Message(texts::kStartErrorBox, MessageKind::Error);
    }
}

void CMainDialog::ReportTableLoaded(const char* text) {
    ReportStatus(StatusKind::Information, text);
    std::uint64_t addresses = 0;
    std::int32_t ranges = 0;
    if (auto table = session_->Blocklist()) {
        addresses = table->AddressCount();
        ranges = table->RangeCount();
    }
    ReportStatus(StatusKind::Information, KnownAddressesText(addresses, ranges));
    ReportListFreshness();
    startButton_->setEnabled(true);
    SetTrayItemEnabled(kTrayStartStopPosition, true);
    WatchBlocklist();
}

bool CMainDialog::StartFiltering() {
    consumers_->StartConsumers();
    if (session_->SetFiltering(true)) return true;
    // Threads left running would be started a second time by the next attempt.
    consumers_->StopConsumers();
    return false;
}

void CMainDialog::ShowFilteringStarted() {
    startButton_->setText(QString::fromLatin1(texts::kStopLabel));
    SetLampState(kLampFiltering);
    if (QAction* item = TrayItem(kTrayStartStopPosition)) item->setText(QString::fromLatin1(texts::kStopLabel));
}

void CMainDialog::PrepareSessionParameters() {
    parameters_ = SessionParameters{};
    parameters_.settings = settings_.get();
    parameters_.blockedNotify = &consumers_->BlockedNotifyEvent();
    parameters_.grantedNotify = &consumers_->GrantedNotifyEvent();
    parameters_.queue = &queue_;
    parameters_.statistics = statistics_.get();
    parameters_.blocklistPath = blocklistPath_;
    parameters_.logFolder = settings_->LogPath.Value();
    parameters_.logBaseName = kLogFileName;
    parameters_.selectedAdapter = settings_->SelectedAdapter.Value();
}

void CMainDialog::ApplyAlwaysOnTop() {
    const bool on = settings_->AlwaysOnTop.value != 0;
    alwaysOnTopItem_->setChecked(on);
    settings_->AlwaysOnTop.Set(on ? 1 : 0);
    SetTopMost(on);
}

void CMainDialog::SetTopMost(bool on) {
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    // Changing a window flag hides the window; it keeps its place and size.
    if (visible) show();
}

void CMainDialog::ShowStartupWindow() {
    if (settings_->LoadMinimized.value) {
        QMetaObject::invokeMethod(this, [this] {
            OnWindowCommand(notify::WindowCommand::Minimize);
            // Without a tray icon nothing could bring the window up: it shows instead.
            if (!IsTrayIconShown()) showNormal();
        }, Qt::QueuedConnection);
        SetTrayAlwaysVisible(settings_->TrayAlwaysVisible.value != 0);
        return;
    }
    showNormal();
    SetTrayAlwaysVisible(settings_->TrayAlwaysVisible.value != 0);
}

void CMainDialog::ShowAdapterInfo(const AdapterInfo* entry) {
    AdapterInfo selected;
    if (!entry && adapterSelector_->GetSelectedAdapter(selected)) entry = &selected;
    macLabel_->SetText(QString::fromStdString(entry ? entry->hardwareAddress : texts::kNotAvailable));
    mediumLabel_->SetText(QString::fromStdString(entry ? entry->mediumName : texts::kNotAvailable));
    QMetaObject::invokeMethod(this, &CTrayIconDialog::RestoreLoggersToo, Qt::QueuedConnection);
}

void CMainDialog::RestoreLoggers() {
    if (destroyed_) return;
    auto create = [this](QPointer<CLogWindow>& slot, int kind) {
        if (slot) return;
        slot = new CLogWindow(*snapper_, kind, this);
        connect(slot.data(), &CLogWindow::Closed, this, [this](int closedKind) {
            (closedKind == CLogWindow::kBlocked ? blockedLog_ : grantedLog_) = nullptr;
        });
    };
    create(grantedLog_, CLogWindow::kGranted);
    create(blockedLog_, CLogWindow::kBlocked);
    const QRect frame = frameGeometry();
    blockedLog_->hide();
    grantedLog_->hide();
    blockedLog_->setGeometry(frame.left(), frame.bottom() + 1, frame.width(), kLogWindowHeight);
    grantedLog_->setGeometry(frame.left(), frame.bottom() + 1 + kLogWindowHeight, frame.width(), kLogWindowHeight);
    blockedLog_->setVisible(settings_->LogBlockedToVideo.value != 0);
    grantedLog_->setVisible(settings_->LogGrantedToVideo.value != 0);
}

void CMainDialog::OnDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    KillReloadTimer();
    if (session_) {
        if (session_->FilteringOn()) (void)session_->SetFiltering(false);
        if (consumers_) consumers_->StopConsumers();
        session_->CloseSession();
        session_.reset();
    } else if (consumers_) {
        consumers_->StopConsumers();
    }
    consumers_.reset();
    if (statistics_) {
        statistics_->Save();
        statistics_.reset();
    }
    // The menu itself goes with the window: the frame's icon button still points into it.
    singleInstance_.Close();
    if (tipFiltering_) qApp->removeEventFilter(tip_);
    tipFiltering_ = false;
    delete blockedLog_.data();
    delete grantedLog_.data();
}

void CMainDialog::ShutDownWindowless() {
    if (destroyed_) return;
    destroyed_ = true;
    if (session_) {
        if (session_->FilteringOn()) (void)session_->SetFiltering(false);
        // Its readers end here; they set events the consumers own.
        session_->CloseSession();
        session_.reset();
    }
    // The consumers post to the window and never wait for it: a plain join ends them.
    consumers_.reset();
    // exit() follows: no thread of ours may outlive the statics it ends.
    StopBlinking();
    if (statistics_) {
        statistics_->Save();
        statistics_.reset();
    }
    singleInstance_.Close();
}

}  // namespace fv
