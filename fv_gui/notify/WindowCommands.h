// Window commands and menus shared by the tray and frame windows.
#pragma once

#include <QPoint>

#include <memory>

class QAction;
class QMenu;
class QWidget;

namespace fv::notify {

// What the caption buttons, the system menu and the window manager ask of a window.
enum class WindowCommand { Minimize, Maximize, Restore, Close };

// Tray menu and its commands.
inline constexpr int kTrayMenu = 148;
inline constexpr int kCommandShow = 32811;
inline constexpr int kCommandStartStop = 32777;
inline constexpr int kCommandQuit = 32785;
inline constexpr int kCommandAbout = 32778;

// What a window does with a command when nothing overrides it.
void ApplyWindowCommand(QWidget* window, WindowCommand command);

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

}  // namespace fv::notify
