// The main window's commands: menu 129 and its command ids.
#pragma once

#include <memory>

class QMenu;

namespace fv {

inline constexpr int kMainMenu = 129;
inline constexpr int kCommandLoadIpTable = 32771;
inline constexpr int kCommandWebSupport = 32782;
inline constexpr int kCommandExit = 32783;
inline constexpr int kCommandPreferences = 32787;
inline constexpr int kCommandReloadIpTable = 32788;  // carried by no menu item
inline constexpr int kCommandViewLog = 32800;
inline constexpr int kCommandDonate = 32801;
inline constexpr int kCommandAboutUnguarded = 32813;

// "&File" and "&About" as submenus of a bar; each action carries its command id as data.
[[nodiscard]] std::unique_ptr<QMenu> LoadMainMenu();

}  // namespace fv
