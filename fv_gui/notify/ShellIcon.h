// The notification area as the tray code sees it: one record per icon, handed to the shell
// whole for every add, modify and delete, with the shell's refusals reported as false.
// SystemTrayShell carries it out over QSystemTrayIcon; tests use a fake.
//
// This is the one place that speaks the shell's numbers: the record's field flags (NIF_*), its
// balloon icons (NIIF_*) and the mouse messages (WM_*) the icon reports. The record's own
// operations set the flags and TrayMouseOf reads the messages, so the tray dialog passes the
// numbers through without reading them, and everything above it sees BalloonIcon and TrayMouse.
#pragma once

#include <QEvent>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <QSystemTrayIcon>

class QWidget;

namespace fv::notify {

// Record flags: which fields a call carries.
inline constexpr std::uint32_t NIF_MESSAGE = 0x01;
inline constexpr std::uint32_t NIF_ICON = 0x02;
inline constexpr std::uint32_t NIF_TIP = 0x04;
inline constexpr std::uint32_t NIF_INFO = 0x10;

// Balloon icons, as the record carries them.
inline constexpr std::uint32_t NIIF_NONE = 0;
inline constexpr std::uint32_t NIIF_INFO = 1;
inline constexpr std::uint32_t NIIF_WARNING = 2;
inline constexpr std::uint32_t NIIF_ERROR = 3;

// Mouse messages the icon reports through its callback message.
inline constexpr std::uint32_t WM_CONTEXTMENU = 0x007B;
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr std::uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr std::uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr std::uint32_t WM_LBUTTONDBLCLK = 0x0203;
inline constexpr std::uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr std::uint32_t WM_RBUTTONDBLCLK = 0x0206;
inline constexpr std::uint32_t WM_MBUTTONDOWN = 0x0207;

inline constexpr qsizetype kTipChars = 127;
inline constexpr qsizetype kInfoTitleChars = 63;
inline constexpr qsizetype kInfoChars = 255;

enum class ShellMessage { Add = 0, Modify = 1, Delete = 2 };

enum class BalloonIcon { None, Info, Warning, Error };

// The icon's mouse events as its owner receives them.
enum class TrayMouse { LeftDown, LeftUp, LeftDoubleClick, RightDown, RightDoubleClick, Move };

// The event a mouse message reports; none for any other message (the middle button's).
[[nodiscard]] std::optional<TrayMouse> TrayMouseOf(std::uint32_t mouseMessage);

// At most `maxChars` characters of `text`; a surrogate pair is never split.
[[nodiscard]] QString CutText(const QString& text, qsizetype maxChars);

struct NotifyIconData {
    QWidget* window = nullptr;          // receives the callback and "taskbar created" events
    std::uint32_t id = 0;
    std::uint32_t flags = 0;
    std::uint32_t callbackMessage = 0;
    QIcon icon;
    QString tip;                         // at most kTipChars
    QString info;                        // balloon text, at most kInfoChars
    QString infoTitle;                   // at most kInfoTitleChars
    std::uint32_t timeoutMs = 0;
    std::uint32_t infoFlags = NIIF_NONE;

    // Each change marks its field as carried by the next call.
    void SetIcon(const QIcon& image) {
        icon = image;
        flags |= NIF_ICON;
    }
    void SetTip(const QString& text) {
        tip = CutText(text, kTipChars);
        flags |= NIF_TIP;
    }
    // The next call carries the whole record with the balloon.
    void SetBalloon(const QString& title, const QString& text, BalloonIcon kind, std::uint32_t timeout);
    // The balloon was shown: later calls must not show it again.
    void DropBalloon() { flags &= ~NIF_INFO; }
    // The icon is gone from the tray: the next add must carry its image and tip again.
    void CarryAll() { flags = NIF_MESSAGE | NIF_ICON | NIF_TIP; }
    // Only the callback, as a new icon starts.
    void CarryCallbackOnly() { flags = NIF_MESSAGE; }
};

// Posted to an icon's window: the icon's callback message, its id and the mouse message.
class ShellCallbackEvent : public QEvent {
public:
    static const QEvent::Type kType;
    ShellCallbackEvent(std::uint32_t message, std::uint32_t iconId, std::uint32_t mouseMessage)
        : QEvent(kType), message(message), iconId(iconId), mouseMessage(mouseMessage) {}
    std::uint32_t message, iconId, mouseMessage;
};

// Posted to every window that has used the shell when the tray host appears again; icons it
// held before are gone and must be added again.
class TaskbarCreatedEvent : public QEvent {
public:
    static const QEvent::Type kType;
    TaskbarCreatedEvent() : QEvent(kType) {}
};

// A tray activation as the mouse messages a notification icon reports: a click is a button
// down and up, a double click the double-click message and the up that ends it.
[[nodiscard]] std::vector<std::uint32_t> TrayMouseMessages(QSystemTrayIcon::ActivationReason reason,
                                                          bool statusNotifier);

class ShellIcons {
public:
    virtual ~ShellIcons() = default;
    // Add fails for an icon (window, id) that exists, Modify and Delete for one that does not.
    [[nodiscard]] virtual bool NotifyIcon(ShellMessage message, const NotifyIconData& data) = 0;
};

// The desktop's tray through QSystemTrayIcon; lives on the GUI thread.
class SystemTrayShell : public QObject, public ShellIcons {
    Q_OBJECT
public:
    static constexpr int kTrayPollMs = 1000;  // how often the tray host's presence is checked

    explicit SystemTrayShell(QObject* parent = nullptr);
    ~SystemTrayShell() override;

    [[nodiscard]] bool NotifyIcon(ShellMessage message, const NotifyIconData& data) override;

    // The process's one shell.
    static SystemTrayShell& Instance();

private:
    struct Icon {
        QSystemTrayIcon* tray = nullptr;
        QPointer<QWidget> window;
        std::uint32_t callbackMessage = 0;
        bool hasCallback = false;
    };
    using Key = std::pair<const QWidget*, std::uint32_t>;

    void Apply(Icon& icon, const NotifyIconData& data);
    void RememberWindow(QWidget* window);
    void CheckTrayHost();
    void DropAllIcons();

    std::map<Key, Icon> icons_;
    std::vector<QPointer<QWidget>> windows_;
    QTimer poll_;
    bool trayAvailable_ = false;
    bool statusNotifier_ = false;  // the tray is a StatusNotifier host
};

}  // namespace fv::notify
