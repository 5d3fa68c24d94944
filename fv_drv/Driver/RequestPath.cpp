// Queries and sets on the virtual adapter: forwarded to the lower adapter with the binding's own
// request block, except the power requests the virtual adapter answers itself.
#include <cstring>

#include "fv_drv/Driver/DriverGlobals.h"
#include "fv_drv/Driver/Handlers.h"

namespace {

NDIS_STATUS ForwardRequest(AdapterBinding* b, NDIS_REQUEST_TYPE type, NDIS_OID oid, PVOID buffer,
                           ULONG length, PULONG bytesReadOrWritten, PULONG bytesNeeded) {
    NdisAcquireSpinLock(&b->Lock);
    if (b->Unbinding || b->StandingBy || IsLowPower(b->MiniportPowerState.load())) {
        NdisReleaseSpinLock(&b->Lock);
        return NDIS_STATUS_FAILURE;
    }
    b->Request = NDIS_REQUEST{};
    b->Request.RequestType = type;
    // Query and set share the layout of oid, buffer and length.
    b->Request.DATA.QUERY_INFORMATION.Oid = oid;
    b->Request.DATA.QUERY_INFORMATION.InformationBuffer = buffer;
    b->Request.DATA.QUERY_INFORMATION.InformationBufferLength = length;
    b->BytesReadOrWritten = bytesReadOrWritten;
    b->BytesNeeded = bytesNeeded;
    if (IsLowPower(b->LowerPowerState.load())) {
        // Sent when the lower adapter is back at full power.
        b->RequestQueued = TRUE;
        NdisReleaseSpinLock(&b->Lock);
        return NDIS_STATUS_PENDING;
    }
    MarkRequestOutstanding(*b);
    NdisReleaseSpinLock(&b->Lock);
    SendBindingRequest(b);
    return NDIS_STATUS_PENDING;
}

// The virtual adapter's own power state.
NDIS_STATUS SetVirtualPower(AdapterBinding* b, PVOID buffer, ULONG length, PULONG bytesRead,
                            PULONG bytesNeeded) {
    *bytesRead = 0;
    *bytesNeeded = 0;
    NDIS_DEVICE_POWER_STATE state;
    if (length < sizeof state) {
        *bytesNeeded = sizeof state;
        return NDIS_STATUS_INVALID_LENGTH;
    }
    std::memcpy(&state, buffer, sizeof state);
    if (state < NdisDeviceStateD0 || state > NdisDeviceStateD3) return NDIS_STATUS_INVALID_DATA;

    NdisAcquireSpinLock(&b->Lock);
    const NDIS_DEVICE_POWER_STATE previous = b->MiniportPowerState.load();
    if (IsLowPower(previous) && IsLowPower(state)) {
        NdisReleaseSpinLock(&b->Lock);
        return NDIS_STATUS_FAILURE;
    }
    if (!IsLowPower(previous) && IsLowPower(state)) b->StandingBy = TRUE;
    if (IsLowPower(previous) && !IsLowPower(state)) b->StandingBy = FALSE;
    b->MiniportPowerState = state;
    // A media change that arrived while asleep goes up now.
    bool indicate = false;
    const NDIS_STATUS missed = b->LatestUnindicatedStatus;
    if (!IsLowPower(state) && b->LastIndicatedStatus != missed) {
        b->LastIndicatedStatus = missed;
        indicate = true;
    }
    NdisReleaseSpinLock(&b->Lock);
    if (indicate) {
        const NDIS_HANDLE miniport = b->MiniportHandle.load();
        NdisMIndicateStatus(miniport, missed, nullptr, 0);
        NdisMIndicateStatusComplete(miniport);
    }
    *bytesRead = sizeof state;
    return NDIS_STATUS_SUCCESS;
}

// The virtual adapter answers for itself: it wakes on nothing.
NDIS_STATUS AnswerPnpCapabilities(AdapterBinding* b) {
    auto& q = b->Request.DATA.QUERY_INFORMATION;
    if (q.InformationBufferLength < sizeof(NDIS_PNP_CAPABILITIES)) {
        q.BytesNeeded = sizeof(NDIS_PNP_CAPABILITIES);
        return NDIS_STATUS_RESOURCES;
    }
    auto* caps = static_cast<PNDIS_PNP_CAPABILITIES>(q.InformationBuffer);
    caps->WakeUpCapabilities.MinMagicPacketWakeUp = NdisDeviceStateUnspecified;
    caps->WakeUpCapabilities.MinPatternWakeUp = NdisDeviceStateUnspecified;
    caps->WakeUpCapabilities.MinLinkChangeWakeUp = NdisDeviceStateUnspecified;
    q.BytesWritten = sizeof(NDIS_PNP_CAPABILITIES);
    q.BytesNeeded = 0;
    return NDIS_STATUS_SUCCESS;
}

// The virtual adapter loops nothing back itself.
void ClearNoLoopback(AdapterBinding* b) {
    auto& q = b->Request.DATA.QUERY_INFORMATION;
    ULONG options;
    if (q.InformationBufferLength < sizeof options || q.BytesWritten < sizeof options) return;
    std::memcpy(&options, q.InformationBuffer, sizeof options);
    options &= ~NDIS_MAC_OPTION_NO_LOOPBACK;
    std::memcpy(q.InformationBuffer, &options, sizeof options);
}

}  // namespace

NDIS_STATUS MiniportQueryInformation(NDIS_HANDLE context, NDIS_OID oid, PVOID buffer, ULONG length,
                                     PULONG bytesWritten, PULONG bytesNeeded) {
    auto* b = static_cast<AdapterBinding*>(context);
    if (oid == OID_PNP_QUERY_POWER) return NDIS_STATUS_SUCCESS;
    if (oid == OID_GEN_SUPPORTED_GUIDS) return NDIS_STATUS_NOT_SUPPORTED;
    return ForwardRequest(b, NdisRequestQueryInformation, oid, buffer, length, bytesWritten,
                          bytesNeeded);
}

NDIS_STATUS MiniportSetInformation(NDIS_HANDLE context, NDIS_OID oid, PVOID buffer, ULONG length,
                                   PULONG bytesRead, PULONG bytesNeeded) {
    auto* b = static_cast<AdapterBinding*>(context);
    if (oid == OID_PNP_SET_POWER) return SetVirtualPower(b, buffer, length, bytesRead, bytesNeeded);
    return ForwardRequest(b, NdisRequestSetInformation, oid, buffer, length, bytesRead,
                          bytesNeeded);
}

void SendBindingRequest(AdapterBinding* b) {
    NDIS_STATUS status;
    NdisRequest(&status, b->BindingHandle, &b->Request);
    if (status != NDIS_STATUS_PENDING) ProtocolRequestComplete(b, &b->Request, status);
}

void ProtocolRequestComplete(NDIS_HANDLE context, PNDIS_REQUEST request, NDIS_STATUS status) {
    auto* b = static_cast<AdapterBinding*>(context);
    if (request != &b->Request) {
        ControlRequest* own = CONTAINING_RECORD(request, ControlRequest, Request);
        own->Complete(own, status);
        return;
    }
    // Completing up may start the next request at once, which can pend below with the flag set
    // again; only a completion that no later request followed clears it.
    NdisAcquireSpinLock(&b->Lock);
    const ULONG serial = b->RequestSerial;
    NdisReleaseSpinLock(&b->Lock);
    const NDIS_HANDLE miniport = b->MiniportHandle.load();
    if (b->Request.RequestType == NdisRequestQueryInformation) {
        auto& q = b->Request.DATA.QUERY_INFORMATION;
        if (q.Oid == OID_PNP_CAPABILITIES && status == NDIS_STATUS_SUCCESS) {
            status = AnswerPnpCapabilities(b);
        }
        if (q.Oid == OID_GEN_MAC_OPTIONS && status == NDIS_STATUS_SUCCESS) ClearNoLoopback(b);
        *b->BytesReadOrWritten = q.BytesWritten;
        *b->BytesNeeded = q.BytesNeeded;
        NdisMQueryInformationComplete(miniport, status);
    } else {
        auto& s = b->Request.DATA.SET_INFORMATION;
        *b->BytesReadOrWritten = s.BytesRead;
        *b->BytesNeeded = s.BytesNeeded;
        NdisMSetInformationComplete(miniport, status);
    }
    // Last: power changes and the halt wait for this flag.
    NdisAcquireSpinLock(&b->Lock);
    if (b->RequestSerial == serial) b->RequestOutstanding = FALSE;
    NdisReleaseSpinLock(&b->Lock);
}
