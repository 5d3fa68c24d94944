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
constexpr mode_t kOthersBits = 077;

bool PrepareFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & kOthersBits) == 0;
}

bool ValidName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
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

std::string NamedLock::PathFor(std::string_view name) {
    if (!ValidName(name)) return {};
    const std::string folder = Folder();
    if (!PrepareFolder(folder)) return {};
    return folder + "/" + std::string(name) + ".lock";
}

NamedLock::Result NamedLock::Create(std::string_view name) {
    Close();
    const std::string path = PathFor(name);
    if (path.empty()) return Result::Failed;
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kLockFileMode));
    if (!fd.Valid()) return Result::Failed;
    int result;
    do {
        result = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return errno == EWOULDBLOCK ? Result::AlreadyHeld : Result::Failed;
    fd_ = std::move(fd);
    held_ = true;
    return Result::Acquired;
}

void NamedLock::Close() {
    fd_.Reset();
    held_ = false;
}

}  // namespace fv
