// A lock shared by every process of the user, by name: an flock on
// $XDG_RUNTIME_DIR/ferrovane/<name>.lock (or /tmp/ferrovane-<uid>/<name>.lock). It is released
// when its holder lets go or exits, even by a crash. The about box uses it so that the tray and
// the system menu open one box at a time.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "fv_platform/UniqueFd.h"

namespace fv::dialogs {

inline constexpr char kAboutGuardName[] = "FerrovaneAbout";

class NamedLock {
public:
    enum class State { Held, Busy, Unavailable };

    // Takes the lock without waiting: Held, Busy when somebody else holds it, Unavailable when
    // its file cannot be made (the caller then goes on unguarded).
    explicit NamedLock(std::string_view name);

    [[nodiscard]] State GetState() const { return state_; }

    // The lock file's path; empty when no safe folder for it can be had.
    [[nodiscard]] static std::string PathFor(std::string_view name);

private:
    UniqueFd fd_;
    State state_ = State::Unavailable;
};

// Runs `show` unless the named lock is held elsewhere; true when it ran.
bool RunGuarded(std::string_view name, const std::function<void()>& show);

}  // namespace fv::dialogs
