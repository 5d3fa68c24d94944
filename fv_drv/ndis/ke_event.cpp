#include "ke_event.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>

LONG KeSetEvent(PKEVENT event, KPRIORITY, BOOLEAN) {
    const std::uint64_t one = 1;
    // A full counter cannot take more; the event is signalled either way.
    ssize_t ignored = write(event->Fd, &one, sizeof one);
    (void)ignored;
    return 0;
}

void KeClearEvent(PKEVENT event) {
    // The descriptor may be shared with a blocking reader: only read when there is a count.
    pollfd pfd{event->Fd, POLLIN, 0};
    while (poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN) != 0) {
        std::uint64_t value;
        if (read(event->Fd, &value, sizeof value) != sizeof value) break;
    }
}

void ObReferenceObject(PKEVENT event) { event->References.fetch_add(1); }

void ObDereferenceObject(PKEVENT event) {
    if (event->References.fetch_sub(1) == 1) {
        close(event->Fd);
        delete event;
    }
}

namespace ndis_host {

PKEVENT CreateEventObject(int fd) {
    int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return nullptr;
    auto* event = new KEVENT;
    event->Fd = own;
    return event;
}

}  // namespace ndis_host
