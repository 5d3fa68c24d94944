#include "fv_platform/ControlWire.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>

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

bool ReceiveAllSoon(int fd, void* data, std::size_t length) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::microseconds(kSpinMicroseconds);
    do {
        const ssize_t n = recv(fd, data, length, MSG_DONTWAIT | MSG_PEEK);
        if (n == ssize_t(length) || n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    } while (Clock::now() < until);
    return ReceiveAll(fd, data, length);
}

}  // namespace fv::wire
