#include "fv_drv/host/ServiceNotify.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "fv_platform/UniqueFd.h"

namespace fv::host {
namespace {

inline constexpr char kNotifySocketVariable[] = "NOTIFY_SOCKET";

// Fills `out` from a path ("/run/systemd/notify") or an abstract name ("@name"). False for
// anything else, or a name that does not fit.
bool SocketAddress(const std::string& name, sockaddr_un& out, socklen_t& length) {
    out = {};
    out.sun_family = AF_UNIX;
    if (name.size() < 2 || (name[0] != '/' && name[0] != '@')) return false;
    if (name.find('\0') != std::string::npos) return false;
    if (name.size() >= sizeof out.sun_path) return false;
    std::memcpy(out.sun_path, name.data(), name.size());
    if (name[0] == '@') {
        // Abstract: the leading NUL is the marker, and the name is exactly as long as given.
        out.sun_path[0] = '\0';
        length = socklen_t(offsetof(sockaddr_un, sun_path) + name.size());
    } else {
        length = socklen_t(offsetof(sockaddr_un, sun_path) + name.size() + 1);
    }
    return true;
}

}  // namespace

ServiceNotifier ServiceNotifier::FromEnvironment() {
    const char* value = std::getenv(kNotifySocketVariable);
    ServiceNotifier notifier(value != nullptr ? value : "");
    unsetenv(kNotifySocketVariable);
    return notifier;
}

bool ServiceNotifier::Send(std::string_view message) const {
    sockaddr_un address;
    socklen_t length = 0;
    if (message.empty() || !SocketAddress(address_, address, length)) return false;
    const UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) return false;
    // Never waits: a manager that reads slowly must not hold a stop or a request up.
    const ssize_t sent = sendto(fd.Get(), message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                                reinterpret_cast<const sockaddr*>(&address), length);
    return sent == ssize_t(message.size());
}

bool ServiceNotifier::SendWithFd(std::string_view message, int fd) const {
    sockaddr_un address;
    socklen_t length = 0;
    if (message.empty() || fd < 0 || !SocketAddress(address_, address, length)) return false;
    const UniqueFd socketFd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socketFd) return false;
    iovec part{const_cast<char*>(message.data()), message.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr header{};
    header.msg_name = &address;
    header.msg_namelen = length;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr* rights = CMSG_FIRSTHDR(&header);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(rights), &fd, sizeof fd);
    // Never waits on a slow manager: this is sent from under the adapter lock.
    return sendmsg(socketFd.Get(), &header, MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(message.size());
}

std::string StatusLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return line;
}

}  // namespace fv::host
