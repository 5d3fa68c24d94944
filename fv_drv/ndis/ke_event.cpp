#include "fv_drv/ndis/ke_event.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace {

constexpr std::string_view kEventfdLink = "anon_inode:[eventfd]";

bool IsEventfd(int fd) {
    char link[64];
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(path.c_str(), link, sizeof link);
    return n > 0 && std::string_view(link, std::size_t(n)) == kEventfdLink;
}

}  // namespace

LONG KeSetEvent(PKEVENT event, KPRIORITY, BOOLEAN) {
    // The counter belongs to the program, which may have made its descriptor blocking. A write
    // to a full counter would then wait, with the adapter lock held, until the program reads; a
    // counter without room is signalled already, so it is written only when it has room.
    pollfd room{event->Fd.Get(), POLLOUT, 0};
    if (poll(&room, 1, 0) != 1 || (room.revents & POLLOUT) == 0) return 0;
    const std::uint64_t one = 1;
    ssize_t ignored = write(event->Fd.Get(), &one, sizeof one);
    (void)ignored;
    return 0;
}

void KeClearEvent(PKEVENT event) {
    // The descriptor may be shared with a blocking reader: only read when there is a count.
    pollfd pfd{event->Fd.Get(), POLLIN, 0};
    while (poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN) != 0) {
        std::uint64_t value;
        if (read(event->Fd.Get(), &value, sizeof value) != sizeof value) break;
    }
}

void ObReferenceObject(PKEVENT event) { event->References.fetch_add(1); }

void ObDereferenceObject(PKEVENT event) {
    if (event->References.fetch_sub(1) == 1) {
        delete event;
    }
}

namespace ndis::host {

PKEVENT CreateEventObject(int fd) {
    // Anything else (a pipe, a socket) could block a set, or be made to, forever.
    if (!IsEventfd(fd)) return nullptr;
    fv::UniqueFd own(fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!own) return nullptr;
    auto* event = new KEVENT;
    event->Fd = std::move(own);
    return event;
}

}  // namespace ndis::host
