// The virtual adapter's initialization and halt.
#include "fv_drv/Driver/ControlDevice.h"
#include "fv_drv/Driver/DriverGlobals.h"
#include "fv_drv/Driver/Handlers.h"

namespace {

constexpr ULONG kMiniportAttributes =
    NDIS_ATTRIBUTE_IGNORE_PACKET_TIMEOUT | NDIS_ATTRIBUTE_IGNORE_REQUEST_TIMEOUT |
    NDIS_ATTRIBUTE_INTERMEDIATE_DRIVER | NDIS_ATTRIBUTE_DESERIALIZE |
    NDIS_ATTRIBUTE_NO_HALT_ON_SUSPEND;

constexpr ULONG kOutstandingPollMicroseconds = 2;

void FinishInitialization(AdapterBinding* b) {
    NdisAcquireSpinLock(&b->Lock);
    const bool pending = b->MiniportInitPending != 0;
    b->MiniportInitPending = FALSE;
    NdisReleaseSpinLock(&b->Lock);
    if (pending) NdisSetEvent(&b->MiniportInitEvent);
}

}  // namespace

NDIS_STATUS MiniportInitialize(PNDIS_STATUS, PUINT selectedMediumIndex, PNDIS_MEDIUM mediumArray,
                               UINT mediumArraySize, NDIS_HANDLE miniportAdapterHandle, NDIS_HANDLE) {
    auto* b = static_cast<AdapterBinding*>(NdisIMGetDeviceContext(miniportAdapterHandle));
    // The protocols above see a WAN binding as Ethernet; its frames carry an Ethernet header.
    const NDIS_MEDIUM medium = b->Medium == NdisMediumWan ? NdisMedium802_3 : b->Medium;
    UINT i = 0;
    while (i < mediumArraySize && mediumArray[i] != medium) ++i;
    if (i == mediumArraySize) {
        FinishInitialization(b);
        return NDIS_STATUS_UNSUPPORTED_MEDIA;
    }
    *selectedMediumIndex = i;

    NdisMSetAttributesEx(miniportAdapterHandle, b, 0, kMiniportAttributes, NdisInterfaceInternal);
    NdisAcquireSpinLock(&b->Lock);
    b->LastIndicatedStatus = NDIS_STATUS_MEDIA_CONNECT;
    b->LatestUnindicatedStatus = NDIS_STATUS_MEDIA_CONNECT;
    b->MiniportPowerState = NdisDeviceStateD0;
    b->LowerPowerState = NdisDeviceStateD0;
    NdisReleaseSpinLock(&b->Lock);
    b->MiniportHandle = miniportAdapterHandle;

    InsertBinding(b);
    RegisterControlDevice();
    FinishInitialization(b);
    return NDIS_STATUS_SUCCESS;
}

void WaitForOutstandingWork(AdapterBinding* b) {
    for (;;) {
        NdisAcquireSpinLock(&b->Lock);
        const bool idle = b->OutstandingSends.load() == 0 && b->RequestOutstanding == 0 &&
                          b->OutstandingControlQueries.load() == 0;
        NdisReleaseSpinLock(&b->Lock);
        if (idle) return;
        NdisMSleep(kOutstandingPollMicroseconds);
    }
}

void MiniportHalt(NDIS_HANDLE context) {
    auto* b = static_cast<AdapterBinding*>(context);
    RemoveBinding(b);
    DeregisterControlDevice();
    // Completions still on their way refer to the binding and the lower handle.
    WaitForOutstandingWork(b);
    if (b->BindingHandle != nullptr) CloseLowerAdapter(b);
    b->MiniportHandle = nullptr;
    DereferenceBinding(b);
}
