#include "Event.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace fv {

Event::Event(Mode mode, bool initiallySignalled) : mode_(mode) {
    fd_ = eventfd(initiallySignalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("eventfd failed");
}

Event Event::Adopt(int fd, Mode mode) {
    // Reads must never block, whoever else shares the descriptor.
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return Event(fd, mode);
}

Event::Event(Event&& other) noexcept : fd_(std::exchange(other.fd_, -1)), mode_(other.mode_) {}

Event& Event::operator=(Event&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        mode_ = other.mode_;
    }
    return *this;
}

Event::~Event() {
    if (fd_ >= 0) close(fd_);
}

void Event::Set() {
    const std::uint64_t one = 1;
    ssize_t ignored = write(fd_, &one, sizeof one);
    (void)ignored;
}

void Event::Reset() {
    std::uint64_t value;
    while (read(fd_, &value, sizeof value) == sizeof value) {
    }
}

bool Event::TryAcquire() {
    if (mode_ == Mode::AutoReset) {
        // The read zeroes the counter: of all the waiters that saw it readable, one wins.
        std::uint64_t value;
        return read(fd_, &value, sizeof value) == sizeof value;
    }
    pollfd pfd{fd_, POLLIN, 0};
    return poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN) != 0;
}

}  // namespace fv
