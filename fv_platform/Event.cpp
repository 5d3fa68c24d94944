#include "fv_platform/Event.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace fv {

Event::Event(Mode mode, bool initiallySignalled)
    : fd_(eventfd(initiallySignalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)), mode_(mode) {
    if (!fd_.Valid()) throw std::system_error(errno, std::generic_category(), "eventfd");
}

Event Event::Adopt(int fd, Mode mode) {
    // Reads must never block, whoever else shares the descriptor.
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return Event(UniqueFd(fd), mode);
}

void Event::Set() {
    const std::uint64_t one = 1;
    ssize_t ignored = write(fd_.Get(), &one, sizeof one);
    (void)ignored;
}

void Event::Reset() {
    std::uint64_t value;
    while (read(fd_.Get(), &value, sizeof value) == sizeof value) {
    }
}

bool Event::TryAcquire() {
    if (mode_ == Mode::AutoReset) {
        // The read zeroes the counter: of all the waiters that saw it readable, one wins.
        std::uint64_t value;
        return read(fd_.Get(), &value, sizeof value) == sizeof value;
    }
    pollfd pfd{fd_.Get(), POLLIN, 0};
    return poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN) != 0;
}

}  // namespace fv
