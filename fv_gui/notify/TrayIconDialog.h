// A dialog that owns the program's one notification-area icon: adding, removing and changing it,
// its menu, hiding into the tray on minimize, restoring on a double click, balloons and blinking.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

#include "fv_gui/notify/ShellIcon.h"
#include "fv_gui/notify/WindowCommands.h"
#include "fv_gui/res/ResourceIds.h"

class QMenu;

namespace fv::notify {

// The 32-bit millisecond tick count and a sleep, replaceable in tests.
class TrayClock {
public:
    virtual ~TrayClock() = default;
    [[nodiscard]] virtual std::uint32_t Now() = 0;
    // Sleeps `ms`, returning early once `stop` is requested.
    virtual void Sleep(std::uint32_t ms, std::stop_token stop) = 0;
};
TrayClock& SystemTrayClock();

struct TrayServices {
    ShellIcons* shell = nullptr;                 // default: SystemTrayShell::Instance()
    TrayClock* clock = nullptr;                  // default: SystemTrayClock()
    std::function<QIcon(int)> loadIcon;          // default: the program's artwork by id
};

class CTrayIconDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr std::uint32_t kIconId = 1;
    static constexpr std::uint32_t kCallbackMessage = 0x0401;  // the first private message + 1
    static constexpr int kIconStopped = res::kIconTrayStopped;
    static constexpr int kIconActive = res::kIconTrayActive;
    static constexpr int kIconAlert = res::kIconTrayAlert;
    static constexpr std::uint32_t kHoldPollMs = 2;

    CTrayIconDialog(int templateId, QWidget* parent, TrayServices services = {});
    ~CTrayIconDialog() override;

    // GUI thread.
    [[nodiscard]] bool AddTrayIcon();
    [[nodiscard]] bool RemoveTrayIcon();
    [[nodiscard]] bool SetTrayIcon(int iconId);
    void SetTrayTip(const QString& text);
    void SetTrayMenu(int menuId);
    void SetTrayAlwaysVisible(bool alwaysVisible);
    void SetBalloonMinimumGap(std::uint32_t ms) { balloonGap_ = ms; }
    std::uint32_t BalloonMinimumGap() const { return balloonGap_; }

    // Any thread: carried out on the window's thread, one record update and shell call at a time.
    void ShowTrayBalloon(const QString& title, const QString& text, BalloonIcon icon, std::uint32_t timeoutSeconds);
    void BlinkTrayIcon(std::uint32_t durationMs, std::uint32_t intervalMs, std::uint32_t holdMs);
    // GUI thread, once no blink can be requested any more: ends the blink worker and drops the
    // icon changes it has posted but not yet made, so the next icon set is the one that shows.
    void StopBlinking();

    bool IsTrayIconShown() const { return iconShown_; }
    bool IsBlinking() const { return blinking_; }
    bool IsTrayAlwaysVisible() const { return alwaysVisible_; }
    const NotifyIconData& TrayRecord() const { return record_; }
    QMenu* TrayMenu() const { return trayMenu_.get(); }
    int TemplateId() const { return templateId_; }

    // Opens the tray menu with its bottom-left corner at `pos` (screen coordinates).
    void ShowTrayMenu(QPoint pos);

    // A window command; minimize hides into the tray.
    virtual void OnWindowCommand(WindowCommand command);
    // A command chosen from one of the window's menus.
    virtual void OnMenuCommand(int) {}

    // The icon's callback with the shell's mouse message: 0 for another icon id, else 1.
    long TrayCallback(std::uint32_t iconId, std::uint32_t mouseMessage);
    // The tray host came back: the icon is added again only if it was shown.
    long OnTaskbarCreated();

signals:
    // Posted after a restore from the tray: the owner places and shows its log windows.
    void RestoreLoggersToo();

protected:
    bool event(QEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void RunOnWindowThread(std::function<void()> step);
    void OnTrayMouse(TrayMouse event, QPoint pos);
    void ShowBalloonNow(const QString& title, const QString& text, BalloonIcon icon, std::uint32_t timeoutSeconds);
    void ShowBlinkIcon(bool alert);
    void BlinkWorker(std::stop_token stop, unsigned blink, std::uint32_t duration, std::uint32_t interval,
                     std::uint32_t hold);
    void PostBlinkStep(unsigned blink, std::function<void()> step);
    void RestoreFromTray();

    const int templateId_;
    ShellIcons& shell_;
    TrayClock& clock_;
    std::function<QIcon(int)> loadIcon_;

    bool minimizeToTray_ = true;
    bool iconShown_ = false;
    NotifyIconData record_;
    std::unique_ptr<QMenu> trayMenu_;
    int defaultMenuItem_ = 0;
    std::uint32_t balloonGap_ = 0;
    std::uint32_t lastBalloon_ = 0;
    QIcon activeIcon_, alertIcon_;
    bool alwaysVisible_ = true;
    bool restorePending_ = false;
    std::atomic<bool> blinking_{false};
    std::atomic<unsigned> blinkCount_{0};  // a posted step of an earlier blink finds it moved on
    std::jthread blinkWorker_;
};

}  // namespace fv::notify
