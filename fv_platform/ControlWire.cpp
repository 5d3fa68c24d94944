#include "ControlWire.h"

#include <sys/socket.h>

#include <cerrno>

namespace fv::wire {

bool SendAll(int fd, const void* data, std::size_t length) {
    const auto* p = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = send(fd, p, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= std::size_t(n);
    }
    return true;
}

bool ReceiveAll(int fd, void* data, std::size_t length) {
    auto* p = static_cast<char*>(data);
    while (length > 0) {
        const ssize_t n = recv(fd, p, length, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= std::size_t(n);
    }
    return true;
}

}  // namespace fv::wire
