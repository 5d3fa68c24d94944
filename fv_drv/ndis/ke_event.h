// Kernel event objects. An event the driver holds is the program's named event: an eventfd
// handed over on the control connection. Setting it writes 1, so several sets before the
// program reads leave a single signal; a set never waits.
#pragma once

#include <atomic>

#include "fv_platform/UniqueFd.h"
#include "fv_drv/ndis/ndis_types.h"

struct KEVENT {
    fv::UniqueFd Fd;
    std::atomic<LONG> References{1};
};
using PKEVENT = KEVENT*;

LONG KeSetEvent(PKEVENT event, KPRIORITY increment, BOOLEAN wait);
void KeClearEvent(PKEVENT event);
void ObReferenceObject(PKEVENT event);
void ObDereferenceObject(PKEVENT event);

namespace ndis::host {
// Wraps a duplicate of `fd` in a new event object with one reference; none if `fd` is bad or
// not an eventfd.
PKEVENT CreateEventObject(int fd);
}  // namespace ndis::host
