// The program's system-wide named mutexes ("FerrovaneStarted", "FerrovaneAbout"): an exclusive
// flock on <folder>/<name>.lock. The kernel drops the lock when its holder exits, even by a
// crash, so a stale file never keeps a later start out.
#pragma once

#include <string>
#include <string_view>

#include "fv_platform/UniqueFd.h"

namespace fv {

class NamedLock {
public:
    enum class Result {
        Acquired,      // this object holds the lock
        AlreadyHeld,   // another holder has it (in this or another process)
        Failed,        // no lock file could be had; nothing is known about other holders
    };

    // $XDG_RUNTIME_DIR/ferrovane when that variable names an existing absolute folder,
    // otherwise /tmp/ferrovane-<uid>.
    static std::string Folder();
    // The lock file of `name`, creating the folder (mode 0700) when absent; empty when the name
    // would leave the folder or the folder cannot be trusted: a symbolic link, not a folder,
    // another user's, or open to others (anybody could then replace our lock file, or create
    // the folder first in a shared /tmp).
    static std::string PathFor(std::string_view name);

    NamedLock() = default;
    // Tries the lock without waiting.
    [[nodiscard]] Result Create(std::string_view name);
    [[nodiscard]] bool Held() const { return held_; }
    // Lets the lock go.
    void Close();

private:
    UniqueFd fd_;
    bool held_ = false;
};

}  // namespace fv
