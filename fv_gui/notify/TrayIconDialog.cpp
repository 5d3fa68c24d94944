#include "fv_gui/notify/TrayIconDialog.h"

#include <QCursor>
#include <QMenu>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "fv_gui/notify/WindowCommands.h"
#include "fv_gui/res/Resources.h"
#include "fv_platform/TickCount.h"

namespace fv::notify {
namespace {

class RealClock : public TrayClock {
public:
    std::uint32_t Now() override { return fv::TickCount(); }
    void Sleep(std::uint32_t ms, std::stop_token stop) override {
        std::mutex m;
        std::condition_variable_any cv;
        std::unique_lock lock(m);
        cv.wait_for(lock, stop, std::chrono::milliseconds(ms), [] { return false; });
    }
};

}  // namespace

TrayClock& SystemTrayClock() {
    // Never destroyed: a worker may still be pacing on it while exit() runs the static destructors.
    static RealClock* const clock = new RealClock;
    return *clock;
}

CTrayIconDialog::CTrayIconDialog(int templateId, QWidget* parent, TrayServices services)
    : QDialog(parent),
      templateId_(templateId),
      shell_(services.shell ? *services.shell : SystemTrayShell::Instance()),
      clock_(services.clock ? *services.clock : SystemTrayClock()),
      loadIcon_(services.loadIcon ? std::move(services.loadIcon) : [](int id) { return res::Icon(id); }) {
    record_.window = this;
    record_.id = kIconId;
    record_.CarryCallbackOnly();
    record_.callbackMessage = kCallbackMessage;
    activeIcon_ = loadIcon_(kIconActive);
    alertIcon_ = loadIcon_(kIconAlert);
}

CTrayIconDialog::~CTrayIconDialog() {
    StopBlinking();
    if (record_.window && record_.id > 0 && iconShown_) (void)shell_.NotifyIcon(ShellMessage::Delete, record_);
}

bool CTrayIconDialog::AddTrayIcon() {
    if (iconShown_) return false;
    const bool added = shell_.NotifyIcon(ShellMessage::Add, record_);
    if (added) iconShown_ = true;
    return added;
}

bool CTrayIconDialog::RemoveTrayIcon() {
    if (!iconShown_) return false;
    const bool removed = shell_.NotifyIcon(ShellMessage::Delete, record_);
    if (removed) {
        iconShown_ = false;
        record_.CarryAll();
    }
    return removed;
}

bool CTrayIconDialog::SetTrayIcon(int iconId) {
    QIcon icon = loadIcon_(iconId);
    if (icon.isNull()) return false;
    record_.SetIcon(icon);
    return iconShown_ && shell_.NotifyIcon(ShellMessage::Modify, record_);
}

void CTrayIconDialog::SetTrayTip(const QString& text) {
    record_.SetTip(text);
}

void CTrayIconDialog::SetTrayMenu(int menuId) { trayMenu_ = LoadMenuResource(menuId); }

void CTrayIconDialog::SetTrayAlwaysVisible(bool alwaysVisible) {
    alwaysVisible_ = alwaysVisible;
    if (alwaysVisible) (void)AddTrayIcon();
    else (void)RemoveTrayIcon();
}

void CTrayIconDialog::RunOnWindowThread(std::function<void()> step) {
    if (QThread::currentThread() == thread()) step();
    else QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
}

void CTrayIconDialog::ShowTrayBalloon(const QString& title, const QString& text, BalloonIcon icon,
                                      std::uint32_t timeoutSeconds) {
    RunOnWindowThread([this, title, text, icon, timeoutSeconds] { ShowBalloonNow(title, text, icon, timeoutSeconds); });
}

void CTrayIconDialog::ShowBalloonNow(const QString& title, const QString& text, BalloonIcon icon,
                                     std::uint32_t timeoutSeconds) {
    const std::uint32_t now = clock_.Now();
    if (now - lastBalloon_ < balloonGap_) return;
    if (!iconShown_) return;
    lastBalloon_ = now;
    record_.window = this;
    record_.id = kIconId;
    record_.SetBalloon(title, text, icon, timeoutSeconds * 1000u);
    (void)shell_.NotifyIcon(ShellMessage::Modify, record_);
    // The tray shows a balloon on every change that carries it: once is enough.
    record_.DropBalloon();
}

void CTrayIconDialog::BlinkTrayIcon(std::uint32_t durationMs, std::uint32_t intervalMs, std::uint32_t holdMs) {
    if (blinking_.exchange(true)) return;
    // The previous worker posted its last step before the flag could clear, so this join is short.
    const unsigned blink = blinkCount_.load();
    blinkWorker_ = std::jthread([this, blink, durationMs, intervalMs, holdMs](std::stop_token stop) {
        BlinkWorker(stop, blink, durationMs, intervalMs, holdMs);
    });
}

void CTrayIconDialog::StopBlinking() {
    if (!blinkWorker_.joinable()) return;
    blinkWorker_.request_stop();
    // The worker only posts to this thread and never waits on it.
    blinkWorker_.join();
    ++blinkCount_;
    blinking_ = false;
}

void CTrayIconDialog::PostBlinkStep(unsigned blink, std::function<void()> step) {
    QMetaObject::invokeMethod(this, [this, blink, step = std::move(step)] {
        if (blink == blinkCount_.load()) step();
    }, Qt::QueuedConnection);
}

void CTrayIconDialog::BlinkWorker(std::stop_token stop, unsigned blink, std::uint32_t duration,
                                  std::uint32_t interval, std::uint32_t hold) {
    const std::uint32_t start = clock_.Now();
    bool alert = true;
    while (!stop.stop_requested() && clock_.Now() - start < duration) {
        PostBlinkStep(blink, [this, alert] { ShowBlinkIcon(alert); });
        alert = !alert;
        clock_.Sleep(interval, stop);
    }
    PostBlinkStep(blink, [this] { ShowBlinkIcon(true); });
    const std::uint32_t holdStart = clock_.Now();
    while (!stop.stop_requested() && clock_.Now() - holdStart < hold) clock_.Sleep(kHoldPollMs, stop);
    // The flag clears with the last change, so a new blink's steps queue behind it.
    PostBlinkStep(blink, [this] {
        ShowBlinkIcon(false);
        blinking_ = false;
    });
}

void CTrayIconDialog::ShowBlinkIcon(bool alert) {
    record_.DropBalloon();
    record_.SetIcon(alert ? alertIcon_ : activeIcon_);
    (void)shell_.NotifyIcon(ShellMessage::Modify, record_);
}

void CTrayIconDialog::OnWindowCommand(WindowCommand command) {
    if (!minimizeToTray_ || command != WindowCommand::Minimize) {
        ApplyWindowCommand(this, command);
        return;
    }
    if (!alwaysVisible_) {
        if (iconShown_) return;
        if (!shell_.NotifyIcon(ShellMessage::Add, record_)) return;
        iconShown_ = true;
    }
    // A window hidden without an icon (no tray host) could never be brought back.
    if (!iconShown_) return;
    hide();
}

long CTrayIconDialog::TrayCallback(std::uint32_t iconId, std::uint32_t mouseMessage) {
    if (iconId != kIconId) return 0;
    if (const auto event = TrayMouseOf(mouseMessage)) OnTrayMouse(*event, QCursor::pos());
    return 1;
}

void CTrayIconDialog::OnTrayMouse(TrayMouse event, QPoint pos) {
    switch (event) {
    // The restore waits for the button-up that ends the double click.
    case TrayMouse::LeftDoubleClick: restorePending_ = true; break;
    case TrayMouse::LeftUp:
        if (restorePending_) RestoreFromTray();
        break;
    case TrayMouse::RightDown: ShowTrayMenu(pos); break;
    case TrayMouse::LeftDown:
    case TrayMouse::RightDoubleClick:
    case TrayMouse::Move: break;
    }
}

void CTrayIconDialog::RestoreFromTray() {
    if (alwaysVisible_ || RemoveTrayIcon()) {
        showNormal();
        show();
        raise();
        activateWindow();
    }
    QMetaObject::invokeMethod(this, &CTrayIconDialog::RestoreLoggersToo, Qt::QueuedConnection);
    restorePending_ = false;
}

void CTrayIconDialog::ShowTrayMenu(QPoint pos) {
    QMenu* menu = FirstSubmenu(trayMenu_.get());
    if (!menu) return;
    const auto actions = menu->actions();
    if (defaultMenuItem_ >= 0 && defaultMenuItem_ < actions.size()) menu->setDefaultAction(actions[defaultMenuItem_]);
    activateWindow();
    if (const int command = TrackMenuBottomAligned(menu, pos)) OnMenuCommand(command);
}

long CTrayIconDialog::OnTaskbarCreated() {
    if (!iconShown_) return 1;
    // A balloon already shown is not shown again by the new tray host.
    NotifyIconData again = record_;
    again.DropBalloon();
    return shell_.NotifyIcon(ShellMessage::Add, again) ? 1 : 0;
}

bool CTrayIconDialog::event(QEvent* e) {
    if (e->type() == ShellCallbackEvent::kType) {
        const auto* callback = static_cast<ShellCallbackEvent*>(e);
        if (callback->message == kCallbackMessage) (void)TrayCallback(callback->iconId, callback->mouseMessage);
        return true;
    }
    if (e->type() == TaskbarCreatedEvent::kType) {
        (void)OnTaskbarCreated();
        return true;
    }
    return QDialog::event(e);
}

void CTrayIconDialog::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    // A minimize from outside (window manager, keyboard) goes the same way as the caption's.
    if (e->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) && minimizeToTray_) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        QMetaObject::invokeMethod(this, [this] { OnWindowCommand(WindowCommand::Minimize); }, Qt::QueuedConnection);
    }
}

}  // namespace fv::notify
