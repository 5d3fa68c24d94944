// Power and PnP events from below, and status indications passed up.
#include <cstring>

#include "fv_drv/Driver/DriverGlobals.h"
#include "fv_drv/Driver/Handlers.h"

namespace {

bool IsMediaStatus(NDIS_STATUS s) {
    return s == NDIS_STATUS_MEDIA_CONNECT || s == NDIS_STATUS_MEDIA_DISCONNECT;
}

NDIS_STATUS SetLowerPower(AdapterBinding* b, const NET_PNP_EVENT& event) {
    NDIS_DEVICE_POWER_STATE state;
    if (event.Buffer == nullptr || event.BufferLength < sizeof state) {
        return NDIS_STATUS_INVALID_LENGTH;
    }
    std::memcpy(&state, event.Buffer, sizeof state);

    NdisAcquireSpinLock(&b->Lock);
    const NDIS_DEVICE_POWER_STATE previous = b->LowerPowerState.load();
    b->LowerPowerState = state;
    if (IsLowPower(state)) {
        b->StandingBy = TRUE;
        NdisReleaseSpinLock(&b->Lock);
        // Nothing may be in flight while the adapter sleeps.
        WaitForOutstandingWork(b);
        NdisAcquireSpinLock(&b->Lock);
        const bool failQueued = b->RequestQueued != 0;
        b->RequestQueued = FALSE;
        NdisReleaseSpinLock(&b->Lock);
        if (failQueued) ProtocolRequestComplete(b, &b->Request, NDIS_STATUS_FAILURE);
        return NDIS_STATUS_SUCCESS;
    }
    if (IsLowPower(previous)) b->StandingBy = FALSE;
    const bool sendQueued = b->RequestQueued != 0;
    b->RequestQueued = FALSE;
    if (sendQueued) MarkRequestOutstanding(*b);
    NdisReleaseSpinLock(&b->Lock);
    if (sendQueued) SendBindingRequest(b);
    return NDIS_STATUS_SUCCESS;
}

}  // namespace

NDIS_STATUS ProtocolPnPEvent(NDIS_HANDLE context, PNET_PNP_EVENT event) {
    auto* b = static_cast<AdapterBinding*>(context);
    switch (event->NetEvent) {
        case NetEventSetPower:
            return b != nullptr ? SetLowerPower(b, *event) : NDIS_STATUS_SUCCESS;
        case NetEventReconfigure:
            if (b == nullptr) NdisReEnumerateProtocolBindings(g_driver.ProtocolHandle);
            return NDIS_STATUS_SUCCESS;
        default:
            return NDIS_STATUS_SUCCESS;
    }
}

void ProtocolStatus(NDIS_HANDLE context, NDIS_STATUS generalStatus, PVOID statusBuffer,
                    UINT statusBufferSize) {
    auto* b = static_cast<AdapterBinding*>(context);
    const NDIS_HANDLE miniport = b->MiniportHandle.load();
    NdisAcquireSpinLock(&b->Lock);
    const bool passUp = miniport != nullptr && AtFullPower(*b);
    if (IsMediaStatus(generalStatus)) {
        // What went up is also the latest: a later return to full power has nothing to repeat.
        if (passUp) b->LastIndicatedStatus = generalStatus;
        b->LatestUnindicatedStatus = generalStatus;
    }
    NdisReleaseSpinLock(&b->Lock);
    if (passUp) NdisMIndicateStatus(miniport, generalStatus, statusBuffer, statusBufferSize);
}

void ProtocolStatusComplete(NDIS_HANDLE context) {
    auto* b = static_cast<AdapterBinding*>(context);
    const NDIS_HANDLE miniport = b->MiniportHandle.load();
    if (miniport != nullptr && AtFullPower(*b)) NdisMIndicateStatusComplete(miniport);
}
