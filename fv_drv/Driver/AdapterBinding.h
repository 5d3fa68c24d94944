// One bound adapter: the driver's binding to a lower adapter, the virtual adapter above it,
// and the filter state of the traffic between them.
#pragma once

#include <atomic>

#include "fv_drv/ndis/ndis.h"
#include "fv_drv/Driver/FilterEngine.h"

struct OpenContext;  // a control handle that opened this adapter

// Bindings, open contexts and range tables carry this tag.
inline constexpr ULONG kDriverPoolTag = MakePoolTag("FVTg");

// A request the control device sends down a binding on its own behalf. The request-complete
// handler recognises it as not the binding's own block and hands it back through Complete.
struct ControlRequest {
    NDIS_REQUEST Request;
    void (*Complete)(ControlRequest* request, NDIS_STATUS status) = nullptr;
};

// Allocated zeroed from non-paged memory and followed, in the same allocation, by the buffers of
// the two names. Fields marked (lock) are only touched under Lock.
struct AdapterBinding {
    AdapterBinding* Next = nullptr;  // driver-wide list (global lock)

    NDIS_HANDLE BindingHandle = nullptr;                 // lower binding (NdisOpenAdapter)
    std::atomic<NDIS_HANDLE> MiniportHandle{nullptr};    // virtual adapter, once initialized
    NDIS_HANDLE SendPacketPool = nullptr;
    NDIS_HANDLE ReceivePacketPool = nullptr;

    // Open and close completions.
    NDIS_STATUS Status = NDIS_STATUS_SUCCESS;
    NDIS_EVENT Event;

    NDIS_MEDIUM Medium = NdisMedium802_3;  // selected by the lower adapter

    // The binding's own request block, forwarding the virtual adapter's queries and sets, with
    // where the caller wants the byte counts.
    NDIS_REQUEST Request;
    PULONG BytesReadOrWritten = nullptr;
    PULONG BytesNeeded = nullptr;

    std::atomic<bool> ReceiveCompleteOwed{false};
    BOOLEAN RequestOutstanding = FALSE;  // (lock)
    ULONG RequestSerial = 0;             // (lock) the binding's own requests sent down so far
    BOOLEAN RequestQueued = FALSE;       // (lock)
    BOOLEAN StandingBy = FALSE;          // (lock) the lower adapter or the virtual one sleeps
    BOOLEAN Unbinding = FALSE;           // (lock)

    // The adapter lock: filter state, power and unbinding flags, outstanding sends.
    NDIS_SPIN_LOCK Lock;

    std::atomic<NDIS_DEVICE_POWER_STATE> MiniportPowerState{NdisDeviceStateUnspecified};
    std::atomic<NDIS_DEVICE_POWER_STATE> LowerPowerState{NdisDeviceStateUnspecified};

    NDIS_STRING VirtualName;  // from "UpperBindings"
    NDIS_STRING LowerName;    // from the bind call

    // 1 at creation, +1 for every control-device lookup and every open context holding it.
    std::atomic<LONG> References{1};
    std::atomic<OpenContext*> OpenedBy{nullptr};

    NDIS_EVENT MiniportInitEvent;
    BOOLEAN MiniportInitPending = FALSE;  // (lock)

    // Media connect / disconnect, for the return of the virtual adapter to full power.
    NDIS_STATUS LastIndicatedStatus = NDIS_STATUS_SUCCESS;     // (lock)
    NDIS_STATUS LatestUnindicatedStatus = NDIS_STATUS_SUCCESS; // (lock)

    std::atomic<LONG> OutstandingSends{0};
    // Control-device queries sent down the lower binding and not yet completed (lock to start).
    std::atomic<LONG> OutstandingControlQueries{0};

    FilterState Filter;  // (lock)
};

// Both power states are full power.
inline bool AtFullPower(const AdapterBinding& b) {
    return b.MiniportPowerState.load() == NdisDeviceStateD0 &&
           b.LowerPowerState.load() == NdisDeviceStateD0;
}
inline bool IsLowPower(NDIS_DEVICE_POWER_STATE s) { return s > NdisDeviceStateD0; }

// Under the adapter lock: the binding's own request block is about to go down.
inline void MarkRequestOutstanding(AdapterBinding& b) {
    b.RequestOutstanding = TRUE;
    ++b.RequestSerial;
}

// A new binding with one reference, both names copied; none when memory runs out.
AdapterBinding* AllocateBinding(const NDIS_STRING& virtualName, const NDIS_STRING& lowerName);
void ReferenceBinding(AdapterBinding* binding);
// The last reference frees the packet pools, the range table, both ring storages, the filter's
// event references and the record.
void DereferenceBinding(AdapterBinding* binding);

// The driver-wide list, most recently initialized first.
void InsertBinding(AdapterBinding* binding);
void RemoveBinding(AdapterBinding* binding);
// The binding whose lower adapter name has exactly these bytes, with a reference; or none.
AdapterBinding* ReferenceBindingByLowerName(const void* name, ULONG byteLength);
