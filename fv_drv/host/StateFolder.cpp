#include "fv_drv/host/StateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fv::host {
namespace {

constexpr const char* kNetworkNamespace = "/proc/self/ns/net";
constexpr mode_t kFolderMode = 0700;

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

bool StateFolder::Open(const std::string& deviceDir, std::string& error) {
    const std::string path = deviceDir + "/" + kStateFolderName;
    struct stat ns {};
    if (stat(kNetworkNamespace, &ns) != 0) {
        error = ErrnoText(kNetworkNamespace);
        return false;
    }
    networkNamespace = std::to_string(ns.st_dev) + "." + std::to_string(ns.st_ino);
    const fv::UniqueFd parent(open(deviceDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!parent) {
        error = ErrnoText(deviceDir);
        return false;
    }
    if (mkdirat(parent.Get(), kStateFolderName, kFolderMode) != 0 && errno != EEXIST) {
        error = ErrnoText("cannot create " + path);
        return false;
    }
    fd.Reset(openat(parent.Get(), kStateFolderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        error = errno == ELOOP || errno == ENOTDIR ? path + " is not a folder of ours"
                                                   : ErrnoText(path);
        return false;
    }
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) {
        error = ErrnoText(path);
        fd.Reset();
        return false;
    }
    if (st.st_uid != geteuid()) {
        error = path + " belongs to another user";
        fd.Reset();
        return false;
    }
    if ((st.st_mode & 07777) != kFolderMode && fchmod(fd.Get(), kFolderMode) != 0) {
        error = ErrnoText("chmod " + path);
        fd.Reset();
        return false;
    }
    return true;
}

std::string StateFolder::FileFor(const std::string& kind, const std::string& interfaceName) const {
    return kind + "-" + networkNamespace + "-" + interfaceName;
}

}  // namespace fv::host
