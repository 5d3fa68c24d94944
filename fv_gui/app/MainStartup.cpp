// The main window's life: the modal run, the start-up sequence and the shutdown sequence, with
// the session's part of each left to the controller.
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
    if (!controller_->ClaimInstance()) {
        Message(texts::kAlreadyRunning);
        EndDialog(kResultOk);
        return;
    }
    if (!controller_->ProbeDriver()) {
        EndDialog(kResultOk);
        return;
    }
    // The hover tip, window snapping, the popup, the tray's tip and menu, the caption.
    SetUpTipAndNotifier();
    // The status list, the lamp, Start disabled until a table is loaded, bold values.
    statusList_->InitColumns();
    lamp_->Initialise();
    ShowTableReady(false);
    for (CLabel* label : {blockedCounter_, grantedCounter_, macLabel_, mediumLabel_}) label->SetFontBold(true);
    // What the status list says first: the driver's state and where packets are logged.
    controller_->ReportDriverState();
    ReportLoggingState();
    // The stored totals; the consumers own the notify events the session's readers set.
    controller_->CreateConsumers();
    // The adapter, the blocklist and the session, filtering at once when asked to.
    OpenStartupSession();
    // Always on top, the counters, the window or the tray, and the reload timer.
    SetTopMost(settings_->AlwaysOnTop.value != 0);
    PacketStatistics& statistics = *controller_->Statistics();
    blockedCounter_->SetText(QString::fromStdString("0 / " + std::to_string(statistics.GetTotalBlocked())));
    grantedCounter_->SetText(QString::fromStdString("0 / " + std::to_string(statistics.GetTotalGranted())));
    ShowStartupWindow();
    controller_->ScheduleReloads();
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

void CMainDialog::ReportLoggingState() {
    const StatusRow row = LoggingStateRow(settings_->LogBlockedToFile.value != 0,
                                          settings_->LogGrantedToFile.value != 0, settings_->LogPath.Value());
    ShowStatus(row.kind, row.text);
}

void CMainDialog::OpenStartupSession() {
    adapterSelector_->SetSettings(settings_.get());
    if (DriverSession* session = controller_->Session()) adapterSelector_->FillAdapters(session->Adapters());
    ShowAdapterInfo();
    if (!AdapterSelected()) {
        ShowStatus(StatusKind::Warning, texts::kNoAdapter);
        ShowContinuation(texts::kNoAdapterHint);
        return;
    }
    if (!settings_->CheckBlocklistFile()) {
        controller_->DropSession();
        adapterSelector_->setEnabled(false);
        return;
    }
    adapterSelector_->setEnabled(true);
    controller_->OpenStored();
}

void CMainDialog::SetTopMost(bool on) {
    alwaysOnTopItem_->setChecked(on);
    settings_->AlwaysOnTop.Set(on ? 1 : 0);
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

void CMainDialog::ShowAdapterInfo() {
    AdapterInfo selected;
    const AdapterInfo* entry = adapterSelector_->GetSelectedAdapter(selected) ? &selected : nullptr;
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
    controller_->Shutdown();
    // The menu itself goes with the window: the frame's icon button still points into it.
    if (tipFiltering_) qApp->removeEventFilter(tip_);
    tipFiltering_ = false;
    delete blockedLog_.data();
    delete grantedLog_.data();
}

void CMainDialog::ShutDownWindowless() {
    if (destroyed_) return;
    destroyed_ = true;
    controller_->ShutdownWindowless();
    // exit() follows: no thread of ours may outlive the statics it ends.
    StopBlinking();
}

}  // namespace fv
