// System commands and menus shared by the tray and frame windows.
#pragma once

#include <QPoint>

#include <memory>

class QAction;
class QMenu;
class QWidget;

namespace fv::notify {

inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_MAXIMIZE = 0xF030;
inline constexpr unsigned SC_CLOSE = 0xF060;
inline constexpr unsigned SC_RESTORE = 0xF120;
inline constexpr unsigned kSysCommandMask = 0xFFF0;  // the low four bits carry no command

// Tray menu and its commands.
inline constexpr int kTrayMenu = 148;
inline constexpr int kCommandShow = 32811;
inline constexpr int kCommandStartStop = 32777;
inline constexpr int kCommandQuit = 32785;
inline constexpr int kCommandAbout = 32778;

// What a window does with a system command when nothing overrides it.
void DefaultSysCommand(QWidget* window, unsigned command);

// A menu by resource id: a bar of submenus, each action carrying its command id as data.
// Null for an unknown id.
[[nodiscard]] std::unique_ptr<QMenu> LoadMenuResource(int id);

// The first submenu of a loaded menu; null when it has none.
[[nodiscard]] QMenu* FirstSubmenu(QMenu* menu);

// The action of a command id anywhere in a menu; null if absent.
[[nodiscard]] QAction* FindCommand(QMenu* menu, int commandId);

// Shows `menu` modally with its bottom-left corner at `screenPos` (kept on screen) and returns
// the chosen command id, 0 when the menu was dismissed.
[[nodiscard]] int TrackMenuBottomAligned(QMenu* menu, QPoint screenPos);

// A system menu for `window`: Restore, Minimize, Maximize and Close with their commands as
// data, enabled for the window's state and for the caption buttons it has, followed by the
// window's own actions (QWidget::actions(), each with its system command as data).
[[nodiscard]] std::unique_ptr<QMenu> SystemMenu(QWidget* window, bool hasMinimize, bool hasMaximize);

}  // namespace fv::notify
