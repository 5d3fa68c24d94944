// The program's three named events: opened by name on request, handed to an adapter's filter at
// start, taken back at stop, released on request or when the process that created them ends.
//
// Lock order: adapter lock, then the event lock. Releasing the events takes each adapter lock
// under the global lock, with the event lock no longer held.
#include "fv_drv/Driver/ControlRequests.h"

namespace {

// The filter's reference to the event of `slot`.
PKEVENT& FilterEvent(FilterState& state, NamedEventSlot slot) {
    switch (slot) {
        case kBlockedEventSlot:
            return state.BlockedEvent;
        case kGrantedEventSlot:
            return state.GrantedEvent;
        default:
            return state.ExitEvent;
    }
}

void Replace(PKEVENT& held, PKEVENT next) {
    if (next != nullptr) ObReferenceObject(next);
    if (held != nullptr) ObDereferenceObject(held);
    held = next;
}

}  // namespace

NTSTATUS CreateNamedEvent(NamedEventSlot slot, ULONG creator) {
    NamedEventEntry& entry = g_driver.Events[slot];
    NdisAcquireSpinLock(&g_driver.EventLock);
    // Held already, or an earlier open failed.
    const bool mayCreate = entry.MayCreate != 0;
    entry.MayCreate = FALSE;
    NdisReleaseSpinLock(&g_driver.EventLock);
    if (!mayCreate) return STATUS_INVALID_PARAMETER;

    HANDLE handle = nullptr;
    PKEVENT event = IoCreateNotificationEvent(&entry.Name, &handle);
    if (event == nullptr) return STATUS_UNSUCCESSFUL;  // and the entry cannot be created again
    ObReferenceObject(event);
    KeClearEvent(event);
    NdisAcquireSpinLock(&g_driver.EventLock);
    entry.Object = event;
    entry.Handle = handle;
    entry.Creator = creator;
    NdisReleaseSpinLock(&g_driver.EventLock);
    return STATUS_SUCCESS;
}

namespace {

// A filter may still hold the events when they are released (a program that skipped the stop,
// or another program's handle). Every adapter lets go of them first, so no filter ever sets an
// event the driver has given up; a filter then keeps running without reports or exit signal.
// Releases every event, or only those `creator` created when it is not 0.
void ReleaseNamedEvents(ULONG creator) {
    PKEVENT objects[kEventSlots] = {};
    HANDLE handles[kEventSlots] = {};
    NdisAcquireSpinLock(&g_driver.EventLock);
    for (UINT slot = 0; slot < kEventSlots; ++slot) {
        NamedEventEntry& entry = g_driver.Events[slot];
        if (creator != 0 && (entry.Object == nullptr || entry.Creator != creator)) continue;
        entry.Creator = 0;
        handles[slot] = entry.Handle;
        objects[slot] = entry.Object;
        entry.Handle = nullptr;
        entry.Object = nullptr;
        if (objects[slot] != nullptr) entry.MayCreate = TRUE;
    }
    NdisReleaseSpinLock(&g_driver.EventLock);

    NdisAcquireSpinLock(&g_driver.GlobalLock);
    for (AdapterBinding* b = g_driver.Bindings; b != nullptr; b = b->Next) {
        NdisAcquireSpinLock(&b->Lock);
        for (UINT slot = 0; slot < kEventSlots; ++slot) {
            PKEVENT& held = FilterEvent(b->Filter, NamedEventSlot(slot));
            if (held != nullptr && held == objects[slot]) Replace(held, nullptr);
        }
        NdisReleaseSpinLock(&b->Lock);
    }
    NdisReleaseSpinLock(&g_driver.GlobalLock);

    for (UINT slot = 0; slot < kEventSlots; ++slot) {
        if (handles[slot] != nullptr) ZwClose(handles[slot]);
        if (objects[slot] != nullptr) ObDereferenceObject(objects[slot]);
    }
}

}  // namespace

NTSTATUS CloseNamedEvents() {
    ReleaseNamedEvents(0);
    return STATUS_SUCCESS;
}

void NamedEventsProcessNotify(HANDLE, HANDLE processId, BOOLEAN create) {
    // A program killed before it could close its events would keep every later one from
    // creating them until the driver restarts. Filtering goes on; only the reports stop.
    const ULONG ended = ULONG(reinterpret_cast<ULONG_PTR>(processId));
    if (!create && ended != 0) ReleaseNamedEvents(ended);
}

void AttachFilterEvents(FilterState& state) {
    NdisAcquireSpinLock(&g_driver.EventLock);
    for (UINT slot = 0; slot < kEventSlots; ++slot) {
        Replace(FilterEvent(state, NamedEventSlot(slot)), g_driver.Events[slot].Object);
    }
    NdisReleaseSpinLock(&g_driver.EventLock);
}

void DetachFilterEvents(FilterState& state) {
    for (UINT slot = 0; slot < kEventSlots; ++slot) {
        Replace(FilterEvent(state, NamedEventSlot(slot)), nullptr);
    }
}
