#include "fv_drv/host/StoredFds.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace fv::host {
namespace {
constexpr int kFirstPassedFd = 3;  // after standard input, output and error
constexpr int kMostPassedFds = 4096;
}  // namespace

StoredFds StoredFds::FromEnvironment() {
    StoredFds stored;
    const char* pid = std::getenv("LISTEN_PID");
    const char* count = std::getenv("LISTEN_FDS");
    const char* names = std::getenv("LISTEN_FDNAMES");
    const bool ours = pid != nullptr && count != nullptr && std::atol(pid) == long(getpid());
    const int n = ours ? std::atoi(count) : 0;
    std::string_view rest = names != nullptr ? names : "";
    for (int i = 0; i < n && i < kMostPassedFds; ++i) {
        const std::size_t colon = rest.find(':');
        const std::string name(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        const int fd = kFirstPassedFd + i;
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        stored.fds_[name].Reset(fd);
    }
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    return stored;
}

int StoredFds::Copy(const std::string& name) const {
    const auto it = fds_.find(name);
    return it == fds_.end() ? -1 : fcntl(it->second.Get(), F_DUPFD_CLOEXEC, 0);
}

}  // namespace fv::host
