#include "fv_platform/ControlWire.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace fv::wire {
namespace {

using Clock = std::chrono::steady_clock;

// Spins for kSpinMicroseconds or until `length` bytes wait in the socket, or it ended.
void SpinForReply(int fd, void* data, std::size_t length) {
    const auto until = Clock::now() + std::chrono::microseconds(kSpinMicroseconds);
    do {
        const ssize_t n = recv(fd, data, length, MSG_DONTWAIT | MSG_PEEK);
        if (n == ssize_t(length) || n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    } while (Clock::now() < until);
}

}  // namespace

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
    SpinForReply(fd, data, length);
    return ReceiveAll(fd, data, length);
}

Transfer WaitReadyBy(int fd, short events, Deadline deadline) {
    for (;;) {
        // Rounded up, so that the last fraction of a millisecond is waited for, not spun.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return Transfer::TimedOut;
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, int(std::min<std::int64_t>(left, INT_MAX)));
        // Readiness, a hang-up or an error: the transfer that follows tells which.
        if (n > 0) return Transfer::Done;
        if (n < 0 && errno != EINTR) return Transfer::Broken;
    }
}

namespace {

// Moves the whole buffer with `step` (a non-blocking send or receive), waiting between steps for
// `events` until the deadline. A step that moves nothing means the peer has gone.
template <typename Byte, typename Step>
Transfer TransferAllBy(int fd, Byte* p, std::size_t length, short events, Deadline deadline,
                       Step step) {
    while (length > 0) {
        const ssize_t n = step(fd, p, length);
        if (n > 0) {
            p += n;
            length -= std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return Transfer::Broken;
        if (const Transfer ready = WaitReadyBy(fd, events, deadline); ready != Transfer::Done) {
            return ready;
        }
    }
    return Transfer::Done;
}

}  // namespace

Transfer SendAllBy(int fd, const void* data, std::size_t length, Deadline deadline) {
    return TransferAllBy(fd, static_cast<const char*>(data), length, POLLOUT, deadline,
                         [](int s, const char* p, std::size_t n) {
                             return send(s, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
                         });
}

Transfer ReceiveAllBy(int fd, void* data, std::size_t length, Deadline deadline) {
    return TransferAllBy(fd, static_cast<char*>(data), length, POLLIN, deadline,
                         [](int s, char* p, std::size_t n) { return recv(s, p, n, MSG_DONTWAIT); });
}

Transfer ReceiveAllSoonBy(int fd, void* data, std::size_t length, Deadline deadline) {
    SpinForReply(fd, data, length);
    return ReceiveAllBy(fd, data, length, deadline);
}

}  // namespace fv::wire
