// The skinned frame's behaviour, shared by CSkinnedDialog and CSkinnedTrayDialog: it draws the
// frame around the client area, presses and releases the caption buttons, opens the icon menu
// and the system menu, and drags the window by its caption.
//
// The system menu's items carry the system's command numbers (SC_*) as data; they become a
// WindowCommand here, and the dialogs above see only that.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QPoint>

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "fv_gui/notify/FrameGeometry.h"
#include "fv_gui/notify/WindowCommands.h"

class QEvent;
class QMenu;
class QMouseEvent;
class QPainter;
class QWidget;

namespace fv::notify {

inline constexpr unsigned kFrameBackground = 0xE6E6E6;  // frame and dialog background
inline constexpr int kResizeBorder = 4;                  // resizable windows' border width

inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_MAXIMIZE = 0xF030;
inline constexpr unsigned SC_CLOSE = 0xF060;
inline constexpr unsigned SC_RESTORE = 0xF120;
inline constexpr unsigned kSysCommandMask = 0xFFF0;  // the low four bits carry no command

// The command a system command number asks for; none for any other number.
[[nodiscard]] std::optional<WindowCommand> WindowCommandOf(unsigned sysCommand);

// A system menu for `window`: Restore, Minimize, Maximize and Close with their command numbers
// as data, enabled for the window's state and for the caption buttons it has, followed by the
// window's own actions (QWidget::actions(), which act through their own triggered signal).
[[nodiscard]] std::unique_ptr<QMenu> SystemMenu(QWidget* window, bool hasMinimize, bool hasMaximize);

class SkinnedFrame {
public:
    struct Hooks {
        std::function<QPoint(QPoint)> proposeMove;   // a dragged window's next position
        std::function<void(WindowCommand)> windowCommand;
        std::function<void(int)> menuCommand;
        std::function<void()> captionPressed;        // a caption drag begins
        std::function<void()> dragEnded;             // released, or the mouse went elsewhere
    };

    // `window` is the frameless top-level window; `resizeBorder` 0 for a fixed-size one.
    SkinnedFrame(QWidget* window, int resizeBorder, Hooks hooks);

    void Init(QWidget* systemMenuWindow, QMenu* iconMenu, bool hasMaximize, bool hasMinimize);
    QWidget* ClientArea() const { return client_; }
    // Resizes the window so that its client area gets `size`.
    void SetClientSize(int width, int height);

    CaptionButton Pressed() const { return pressed_; }
    bool IconHover() const { return iconHover_; }
    FrameButtons Buttons() const { return buttons_; }

    // Event handlers; the mouse ones return whether the event was used.
    void Paint(QPainter& painter);
    void Resized();
    bool MousePress(QMouseEvent* e);
    bool MouseMove(QMouseEvent* e);
    bool MouseRelease(QMouseEvent* e);
    bool MouseDoubleClick(QMouseEvent* e);
    void MouseLeft();
    // The mouse went elsewhere (window deactivated or hidden) while a button was held.
    void CaptureLost();

private:
    void SetIconHover(bool hover);
    void EndDrag();
    void Act(CaptionButton button, QPoint screenPos);
    void ShowSystemMenu(QPoint screenPos);
    const QPixmap& Bitmap(int id);

    QWidget* window_;
    QWidget* client_;
    int resizeBorder_;
    Hooks hooks_;
    QWidget* systemMenuWindow_ = nullptr;
    QMenu* iconMenu_ = nullptr;
    FrameButtons buttons_;
    CaptionButton pressed_ = CaptionButton::None;
    bool iconHover_ = false;
    bool dragging_ = false;
    QPoint dragOffset_;
    QFont captionFont_;
    qreal ratio_ = 1.0;  // the device pixel ratio the bitmaps are drawn for
    std::map<int, QPixmap> bitmaps_;
};

}  // namespace fv::notify
