#include "fv_drv/ndis/ndis_event.h"

#include <chrono>
#include <cstring>
#include <thread>

void NdisInitializeEvent(PNDIS_EVENT event) {
    std::lock_guard guard(event->Lock);
    event->Signalled = false;
}

void NdisSetEvent(PNDIS_EVENT event) {
    // Notify under the lock: a waiter that wakes may free the event as soon as it returns.
    std::lock_guard guard(event->Lock);
    event->Signalled = true;
    event->Changed.notify_all();
}

void NdisResetEvent(PNDIS_EVENT event) {
    std::lock_guard guard(event->Lock);
    event->Signalled = false;
}

BOOLEAN NdisWaitEvent(PNDIS_EVENT event, UINT msToWait) {
    std::unique_lock guard(event->Lock);
    if (msToWait == 0) {
        event->Changed.wait(guard, [event] { return event->Signalled; });
        return TRUE;
    }
    return event->Changed.wait_for(guard, std::chrono::milliseconds(msToWait),
                                   [event] { return event->Signalled; })
               ? TRUE
               : FALSE;
}

void NdisMSleep(ULONG microsecondsToSleep) {
    std::this_thread::sleep_for(std::chrono::microseconds(microsecondsToSleep));
}
