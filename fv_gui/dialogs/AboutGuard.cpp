#include "fv_gui/dialogs/AboutGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace fv::dialogs {
namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

// A folder of our own: created when absent; refused when it is a link, not a folder, somebody
// else's, or open to others (a shared /tmp lets anybody create the name first).
bool OwnFolder(const std::string& path) {
    if (::mkdir(path.c_str(), kFolderMode) != 0 && errno != EEXIST) return false;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

bool ValidName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

}  // namespace

std::string NamedLock::PathFor(std::string_view name) {
    if (!ValidName(name)) return {};
    std::string folder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        folder = std::string(runtime) + "/ferrovane";
    } else {
        folder = "/tmp/ferrovane-" + std::to_string(::geteuid());
    }
    if (!OwnFolder(folder)) return {};
    return folder + "/" + std::string(name) + ".lock";
}

NamedLock::NamedLock(std::string_view name) {
    const std::string path = PathFor(name);
    if (path.empty()) return;
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode));
    if (!fd) return;
    int result;
    do {
        result = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        state_ = errno == EWOULDBLOCK ? State::Busy : State::Unavailable;
        return;
    }
    fd_ = std::move(fd);
    state_ = State::Held;
}

bool RunGuarded(std::string_view name, const std::function<void()>& show) {
    const NamedLock lock(name);
    if (lock.GetState() == NamedLock::State::Busy) return false;
    show();
    return true;
}

}  // namespace fv::dialogs
