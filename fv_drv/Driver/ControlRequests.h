// The control device's requests, one routine each, as the dispatcher calls them.
#pragma once

#include <atomic>

#include "fv_drv/ndis/ndis.h"
#include "fv_drv/Driver/DriverGlobals.h"
#include "fv_drv/Driver/OpenContext.h"

// One device-control request: input and output share the system buffer. Information is what the
// caller gets back with the status.
struct ControlIo {
    PUCHAR Buffer = nullptr;  // max(InputLength, OutputLength) bytes
    ULONG InputLength = 0;
    ULONG OutputLength = 0;
    ULONG_PTR Information = 0;
};

// Driver-wide requests.
NTSTATUS EnumBindings(ControlIo& io);
NTSTATUS OpenAdapter(PFILE_OBJECT file, ControlIo& io);
NTSTATUS GetVersion(ControlIo& io);
// `creator` is the requesting process (0: unknown).
NTSTATUS CreateNamedEvent(NamedEventSlot slot, ULONG creator);
NTSTATUS CloseNamedEvents();
// The process notify routine: a process that ended leaves no event it created held.
void NamedEventsProcessNotify(HANDLE parentId, HANDLE processId, BOOLEAN create);

// The handle's close: releases its OpenContext and the adapter it held.
void CloseControlHandle(PFILE_OBJECT file);

// The OID query through the handle's lower binding; waits for the answer.
NTSTATUS QueryOid(OpenContext* context, ControlIo& io);

// Under the adapter lock: the adapter is unbinding or standing by. Each flag is loaded on its
// own; a load merged with its neighbours would also read the lock word others spin on.
inline bool UnbindingOrStandingBy(AdapterBinding& b) {
    return std::atomic_ref<BOOLEAN>(b.Unbinding).load(std::memory_order_relaxed) != 0 ||
           std::atomic_ref<BOOLEAN>(b.StandingBy).load(std::memory_order_relaxed) != 0;
}

// Whether `code` is one of the requests that act on the handle's adapter under its lock.
bool IsAdapterRequest(ULONG code);
// Runs an adapter request (IsAdapterRequest) with the checks of the adapter's state.
NTSTATUS AdapterRequest(AdapterBinding* binding, ULONG code, ControlIo& io);

// Under the adapter lock: the filter takes references on the driver-wide events as they are now,
// or lets go of the ones it holds.
void AttachFilterEvents(FilterState& state);
void DetachFilterEvents(FilterState& state);
