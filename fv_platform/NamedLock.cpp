#include "fv_platform/NamedLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace fv {
namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kLockFileMode = 0600;

// The folder exists (created now if need be), is a real folder and is ours.
bool PrepareFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// A name that would leave the folder is not a lock name.
bool ValidName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

}  // namespace

std::string NamedLock::Folder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
        return std::string(runtime) + "/ferrovane";
    }
    return "/tmp/ferrovane-" + std::to_string(::geteuid());
}

NamedLock::Result NamedLock::Create(std::string_view name) {
    Close();
    const std::string folder = Folder();
    if (!ValidName(name) || !PrepareFolder(folder)) return Result::Failed;
    const std::string path = folder + "/" + std::string(name) + ".lock";
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kLockFileMode));
    if (!fd.Valid()) return Result::Failed;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? Result::AlreadyHeld : Result::Failed;
    }
    fd_ = std::move(fd);
    held_ = true;
    return Result::Acquired;
}

void NamedLock::Close() {
    fd_.Reset();
    held_ = false;
}

}  // namespace fv
