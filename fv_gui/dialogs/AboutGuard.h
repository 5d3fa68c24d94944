// One about box at a time from the tray and the system menu, across all of the user's
// processes: the box runs while the named lock "FerrovaneAbout" is held.
#pragma once

#include <functional>
#include <string_view>

namespace fv::dialogs {

inline constexpr char kAboutGuardName[] = "FerrovaneAbout";

// Runs `show` unless the named lock is held elsewhere; true when it ran. When no lock file can
// be had, `show` runs unguarded: a missing guard must not take the box away.
bool RunGuarded(std::string_view name, const std::function<void()>& show);

}  // namespace fv::dialogs
