#include "fv_drv/host/InterfaceClaim.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>

namespace fv::host {

bool InterfaceClaim::Take(const StateFolder& folder, const std::string& interfaceName,
                          std::string& error) {
    if (interfaceName.empty() || interfaceName.find('/') != std::string::npos) {
        error = "bad interface name";
        return false;
    }
    const std::string name = folder.FileFor("claim", interfaceName);
    lock_.Reset(openat(folder.fd.Get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock_) {
        error = "claim " + name + ": " + std::strerror(errno);
        return false;
    }
    if (flock(lock_.Get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? std::string("in use by another ferrovane-sys")
                                     : std::string("claim: ") + std::strerror(errno);
        lock_.Reset();
        return false;
    }
    return true;
}

}  // namespace fv::host
