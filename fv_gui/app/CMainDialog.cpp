// The main window's construction, its controls and the messages it handles.
#include "fv_gui/app/CMainDialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QEventLoop>
#include <QGroupBox>
#include <QMenu>
#include <QTimer>
#include <QUrl>

#include <chrono>

#include "fv_gui/app/CAdapterComboBox.h"
#include "fv_gui/app/MainMenu.h"
#include "fv_gui/app/QtMessageSink.h"
#include "fv_gui/controls/CFlatButton.h"
#include "fv_gui/controls/CLabel.h"
#include "fv_gui/logview/CLogListCtrl.h"
#include "fv_gui/logview/CLogWindow.h"
#include "fv_gui/notify/CControlTip.h"
#include "fv_gui/notify/CStatusLamp.h"
#include "fv_gui/notify/ShellIcon.h"
#include "fv_gui/notify/TaskbarNotifier.h"
#include "fv_gui/notify/WindowCommands.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"
#include "fv_gui/settings/Settings.h"

namespace fv {
namespace {

// The client area and the controls on it, in pixels.
constexpr int kClientWidth = 400;
constexpr int kClientHeight = 330;
constexpr int kMargin = 8;
constexpr int kGroupWidth = kClientWidth - 2 * kMargin;
constexpr QRect kAdapterGroup{kMargin, 4, kGroupWidth, 78};
constexpr QRect kActivityGroup{kMargin, 86, kGroupWidth, 96};
constexpr QRect kStatusListRect{kMargin, 188, kGroupWidth, 100};
constexpr int kButtonTop = 296;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 26;
constexpr int kSmallButtonWidth = 44;
constexpr int kRowHeight = 18;
// Below this a counter is no longer read at a glance: it is elided instead.
constexpr int kSmallestCounterPixels = 8;

// Balloon and popup timings of a blocked packet, and the tray blink.
constexpr std::uint32_t kBalloonSeconds = 10;
constexpr int kNotifierShowMs = 500;
constexpr int kNotifierStayMs = 4000;
constexpr int kNotifierHideMs = 200;
constexpr std::uint32_t kBlinkDurationMs = 1500;
constexpr std::uint32_t kBlinkIntervalMs = 100;
constexpr std::uint32_t kBlinkHoldMs = 300;

template <typename W>
W* Named(W* widget, int id) {
    widget->setObjectName(QString::number(id));
    return widget;
}

CLabel* StaticText(const char* text, QRect rect, QWidget* parent) {
    auto* label = new CLabel(QString::fromLatin1(text), parent);
    label->setGeometry(rect);
    return label;
}

CLabel* ValueLabel(int id, QRect rect, QWidget* parent) {
    auto* label = Named(new CLabel(parent), id);
    label->setGeometry(rect);
    return label;
}

CFlatButton* Button(int id, const char* text, QRect rect, QWidget* parent) {
    auto* button = Named(new CFlatButton(QString::fromLatin1(text), parent), id);
    button->setGeometry(rect);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CMainDialog::CMainDialog() : CMainDialog(Services{}) {}

CMainDialog::CMainDialog(Services services, QWidget* parent)
    : notify::CSkinnedTrayDialog(kMainDialogTemplate, parent, services.tray),
      services_(std::move(services)) {
    if (!services_.messages) {
        ownSink_ = std::make_unique<QtMessageSink>(this);
        services_.messages = ownSink_.get();
    }
    if (!services_.openUrl) services_.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    if (!services_.sleep) {
        // The window keeps painting meanwhile; the command guard turns other commands away.
        services_.sleep = [](std::uint32_t ms) {
            QEventLoop wait;
            QTimer::singleShot(std::chrono::milliseconds(ms), &wait, &QEventLoop::quit);
            wait.exec();
        };
    }
    settings_ = std::make_unique<Settings>();
    controller_ = std::make_unique<SessionController>(*settings_, *services_.messages, *this, services_.sleep);
    snapDesktop_ = std::make_unique<ScreenSnapDesktop>();
    snapper_ = std::make_unique<WindowSnapper>(*snapDesktop_);
    selfSnap_ = std::make_unique<WidgetSnapWindow>(this);
    notifier_ = new notify::CTaskbarNotifier();
    tip_ = new CControlTip();
    setWindowIcon(res::Icon(res::kIconApplication));
    SetClientSize(kClientWidth, kClientHeight);
    QWidget* client = ClientArea();
    createAdapterGroup(client);
    createActivityGroup(client);
    createStatusArea(client);
    createSystemMenuAdditions();
    connectCommands();
    connectController();
}

CMainDialog::~CMainDialog() {
    OnDestroy();
    // The popup and the tip are the window's children from start-up on; before it, only ours.
    if (!notifier_->parent()) delete notifier_;
    if (!tip_->parent()) delete tip_;
}

// --- controls

void CMainDialog::createAdapterGroup(QWidget* client) {
    auto* group = new QGroupBox(QStringLiteral("Network adapter"), client);
    group->setGeometry(kAdapterGroup);
    adapterSelector_ = Named(new CAdapterComboBox(group), kAdapterSelector);
    adapterSelector_->setGeometry(10, 20, kAdapterGroup.width() - 20, 22);
    StaticText("MAC address:", {10, 50, 80, kRowHeight}, group);
    macLabel_ = ValueLabel(kMacAddressLabel, {92, 50, 140, kRowHeight}, group);
    StaticText("Medium type:", {238, 50, 82, kRowHeight}, group);
    mediumLabel_ = ValueLabel(kMediumLabel, {322, 50, kAdapterGroup.width() - 330, kRowHeight}, group);
}

void CMainDialog::createActivityGroup(QWidget* client) {
    auto* group = new QGroupBox(QStringLiteral("Activity"), client);
    group->setGeometry(kActivityGroup);
    // The lamp starts hidden, as the window's template has it.
    lamp_ = Named(new CStatusLamp(group), kStatusLampControl);
    lamp_->move(kActivityGroup.width() - 10 - CStatusLamp::kSize, 22);
    lamp_->hide();
    lamp_->setAccessibleName(QStringLiteral("Status lamp"));
    const int resetLeft = lamp_->x() - 10 - kSmallButtonWidth;
    StaticText("Blocked packets", {10, 26, 110, kRowHeight}, group);
    blockedCounter_ = ValueLabel(kBlockedCounter, {122, 26, resetLeft - 128, kRowHeight}, group);
    resetBlockedButton_ = Button(kResetBlockedButton, "Reset", {resetLeft, 24, kSmallButtonWidth, 22}, group);
    StaticText("Granted packets", {10, 60, 110, kRowHeight}, group);
    grantedCounter_ = ValueLabel(kGrantedCounter, {122, 60, resetLeft - 128, kRowHeight}, group);
    resetGrantedButton_ = Button(kResetGrantedButton, "Reset", {resetLeft, 58, kSmallButtonWidth, 22}, group);
    for (CLabel* counter : {blockedCounter_, grantedCounter_}) counter->SetShrinkToFit(kSmallestCounterPixels);
}

void CMainDialog::createStatusArea(QWidget* client) {
    statusList_ = Named(new CLogListCtrl(client), kStatusList);
    statusList_->setGeometry(kStatusListRect);
    statusList_->setAccessibleName(QStringLiteral("Status"));
    startButton_ = Button(kStartStopButton, texts::kStartLabel, {kMargin, kButtonTop, kButtonWidth, kButtonHeight}, client);
    viewLogButton_ = Button(kViewLogButton, "View log...",
                            {(kClientWidth - kButtonWidth) / 2, kButtonTop, kButtonWidth, kButtonHeight}, client);
    viewLogButton_->hide();
    quitButton_ = Button(kQuitButton, "Quit",
                         {kClientWidth - kMargin - kButtonWidth, kButtonTop, kButtonWidth, kButtonHeight}, client);
}

void CMainDialog::createSystemMenuAdditions() {
    auto separator = [this] {
        auto* action = new QAction(this);
        action->setSeparator(true);
        addAction(action);
    };
    separator();
    auto* about = new QAction(QStringLiteral("About Ferrovane..."), this);
    connect(about, &QAction::triggered, this, [this] { ShowAbout(true); });
    addAction(about);
    separator();
    alwaysOnTopItem_ = new QAction(QStringLiteral("Always on top"), this);
    connect(alwaysOnTopItem_, &QAction::triggered, this, &CMainDialog::ToggleAlwaysOnTop);
    alwaysOnTopItem_->setCheckable(true);
    addAction(alwaysOnTopItem_);
}

void CMainDialog::connectCommands() {
    connect(startButton_, &QPushButton::clicked, this, &CMainDialog::ToggleFiltering);
    connect(quitButton_, &QPushButton::clicked, this, &CMainDialog::accept);
    connect(resetGrantedButton_, &QPushButton::clicked, this, [this] { ResetCounter(kGranted); });
    connect(resetBlockedButton_, &QPushButton::clicked, this, [this] { ResetCounter(kBlocked); });
    connect(this, &CTrayIconDialog::RestoreLoggersToo, this, &CMainDialog::RestoreLoggers);
}

// The controller runs on this thread: its signals arrive directly, in the order it sends them.
void CMainDialog::connectController() {
    SessionController* session = controller_.get();
    connect(session, &SessionController::StatusReported, this, &CMainDialog::ShowStatus);
    connect(session, &SessionController::ContinuationReported, this, &CMainDialog::ShowContinuation);
    connect(session, &SessionController::DriverPresence, this, &CMainDialog::ShowDriverPresence);
    connect(session, &SessionController::AdaptersListed, this, &CMainDialog::ShowAdapters);
    connect(session, &SessionController::AdapterInUse, adapterSelector_, &CAdapterComboBox::SelectAdapterByName);
    connect(session, &SessionController::TableReady, this, &CMainDialog::ShowTableReady);
    connect(session, &SessionController::FilteringStarted, this, &CMainDialog::ShowFilteringStarted);
    connect(session, &SessionController::FilteringStopped, this, &CMainDialog::ShowFilteringStopped);
    connect(session, &SessionController::StopSettled, this, [this] { (void)SetTrayIcon(res::kIconTrayStopped); });
    connect(session, &SessionController::EndRequested, this, [this] { EndDialog(kResultOk); });
}

QAction* CMainDialog::TrayItem(int position) const {
    QMenu* menu = notify::FirstSubmenu(TrayMenu());
    if (!menu) return nullptr;
    const auto actions = menu->actions();
    return position >= 0 && position < actions.size() ? actions[position] : nullptr;
}

void CMainDialog::SetTrayItemEnabled(int position, bool enabled) {
    if (QAction* item = TrayItem(position)) item->setEnabled(enabled);
}

// --- messages

void CMainDialog::OnMenuCommand(int command) {
    switch (command) {
    case notify::kCommandStartStop: ToggleFiltering(); break;
    case kCommandExit:
    case notify::kCommandQuit: accept(); break;
    case kCommandLoadIpTable: LoadIpTable(); break;
    case kCommandPreferences: ShowPreferences(); break;
    case kCommandViewLog: ShowLogFile(); break;
    case kCommandWebSupport:
    case kCommandDonate: OpenWebPage(command); break;
    case kCommandAboutUnguarded: ShowAbout(false); break;
    case notify::kCommandAbout: ShowAbout(true); break;
    case notify::kCommandShow: RestoreFromTray(); break;
    case kCommandReloadIpTable: ReloadIpTable(); break;
    default: break;
    }
}

void CMainDialog::OnWindowCommand(notify::WindowCommand command) {
    switch (command) {
    case notify::WindowCommand::Close: HideToTray(); return;
    case notify::WindowCommand::Minimize:
        if (blockedLog_) blockedLog_->hide();
        if (grantedLog_) grantedLog_->hide();
        break;
    case notify::WindowCommand::Maximize:
    case notify::WindowCommand::Restore: break;
    }
    CSkinnedTrayDialog::OnWindowCommand(command);
}

void CMainDialog::accept() { EndDialog(kResultOk); }

// Esc hides into the tray; it never ends the program.
void CMainDialog::reject() { HideToTray(); }

// The window manager's close (its close button, Alt+F4) is the caption's close box and keeps
// filtering on; a close the program sends itself (a termination signal) ends it.
void CMainDialog::closeEvent(QCloseEvent* e) {
    e->ignore();
    if (e->spontaneous()) HideToTray();
    else EndDialog(kResultCancel);
}

// Dragging the main window moves the attached log windows along, so theirs must not snap.
void CMainDialog::CaptionPressed() {
    if (blockedLog_) blockedLog_->SetSnapping(false);
    if (grantedLog_) grantedLog_->SetSnapping(false);
}

void CMainDialog::DragEnded() { snapper_->ApplyPendingAttach(); }

QPoint CMainDialog::ProposeMove(QPoint proposed) { return SnapMove(*snapper_, *selfSnap_, this, proposed); }

// --- what the consumer threads change

void CMainDialog::AddLogEntry(int kind, int icon, const std::string& text, std::uint32_t address) {
    QMetaObject::invokeMethod(this, [this, kind, icon, line = QString::fromStdString(text), address] {
        CLogWindow* window = kind == CLogWindow::kBlocked ? blockedLog_.data() : grantedLog_.data();
        if (window) window->AddEntry(icon, line, address);
    }, Qt::QueuedConnection);
}

void CMainDialog::SetCounterText(int kind, const std::string& text) {
    QMetaObject::invokeMethod(this, [this, kind, label = QString::fromStdString(text)] {
        (kind == CLogWindow::kBlocked ? blockedCounter_ : grantedCounter_)->SetText(label);
    }, Qt::QueuedConnection);
}

void CMainDialog::ShowTrayBalloon(const std::string& title, const std::string& text) {
    CSkinnedTrayDialog::ShowTrayBalloon(QString::fromStdString(title), QString::fromStdString(text),
                                        notify::BalloonIcon::Warning, kBalloonSeconds);
}

void CMainDialog::ShowNotifier(const std::string& text) {
    notifier_->Show(QString::fromStdString(text), kNotifierShowMs, kNotifierStayMs, kNotifierHideMs);
}

void CMainDialog::BlinkTrayIcon() { CSkinnedTrayDialog::BlinkTrayIcon(kBlinkDurationMs, kBlinkIntervalMs, kBlinkHoldMs); }

void CMainDialog::SetLampState(int state) { lamp_->SetLampState(state); }

void CMainDialog::EnableAdapterSelector(bool enable) {
    QMetaObject::invokeMethod(this, [this, enable] { adapterSelector_->setEnabled(enable); }, Qt::AutoConnection);
}

void CMainDialog::Message(const std::string& text, MessageKind kind) {
    services_.messages->ShowMessage(text, texts::kMessageCaption, kind);
}

// --- what the controller changes

void CMainDialog::ShowStatus(StatusKind kind, const std::string& text) {
    statusList_->AddRow(static_cast<int>(kind), QString::fromStdString(text), 0);
}

void CMainDialog::ShowContinuation(const std::string& text) { statusList_->AddPlainRow(QString::fromStdString(text)); }

void CMainDialog::ShowDriverPresence(bool present) {
    if (QAction* load = notify::FindCommand(mainMenu_.get(), kCommandLoadIpTable)) load->setEnabled(present);
    SetLampState(present ? kLampReady : kLampNotReady);
}

void CMainDialog::ShowAdapters(const AdapterList& adapters) {
    adapterSelector_->FillAdapters(adapters);
    adapterSelector_->setEnabled(true);
}

void CMainDialog::ShowTableReady(bool ready) {
    startButton_->setEnabled(ready);
    SetTrayItemEnabled(kTrayStartStopPosition, ready);
}

void CMainDialog::ShowFilteringStarted() {
    (void)SetTrayIcon(res::kIconTrayActive);
    startButton_->setText(QString::fromLatin1(texts::kStopLabel));
    SetLampState(kLampFiltering);
    if (QAction* item = TrayItem(kTrayStartStopPosition)) item->setText(QString::fromLatin1(texts::kStopLabel));
}

void CMainDialog::ShowFilteringStopped() {
    // No blink can start now; one underway would end on the filtering icon after ours.
    StopBlinking();
    startButton_->setText(QString::fromLatin1(texts::kStartLabel));
    SetLampState(kLampReady);
    // The tray says what the window says, so that its Start/Stop item does what it shows.
    if (QAction* item = TrayItem(kTrayStartStopPosition)) item->setText(QString::fromLatin1(texts::kStartLabel));
}

}  // namespace fv
