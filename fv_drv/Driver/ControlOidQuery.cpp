// IOCTL_QUERY_OID: a query of the lower adapter on the handle's behalf. The only request that
// waits; the adapter lock is held only to check the adapter's state.
#include <cstring>

#include "fv_drv/Driver/ControlRequests.h"

namespace {

constexpr ULONG kOidSize = sizeof(NDIS_OID);

void QueryComplete(ControlRequest* request, NDIS_STATUS status) {
    OpenContext* context = CONTAINING_RECORD(request, OpenContext, Query);
    context->QueryStatus = status;
    NdisSetEvent(&context->QueryDone);
}

NTSTATUS MapQueryStatus(NDIS_STATUS status) {
    switch (status) {
        case NDIS_STATUS_SUCCESS:
            return STATUS_SUCCESS;
        case NDIS_STATUS_BUFFER_TOO_SHORT:
            return STATUS_BUFFER_TOO_SMALL;
        case NDIS_STATUS_INVALID_LENGTH:
            return STATUS_INVALID_BUFFER_SIZE;
        case NDIS_STATUS_INVALID_DATA:
            return STATUS_INVALID_PARAMETER;
        case NDIS_STATUS_ADAPTER_NOT_FOUND:
            return STATUS_NO_MORE_ENTRIES;
        case NDIS_STATUS_ADAPTER_NOT_READY:
            return STATUS_DEVICE_NOT_READY;
        case NDIS_STATUS_BUFFER_OVERFLOW:
        case NDIS_STATUS_FAILURE:
        case NDIS_STATUS_RESOURCES:
        case NDIS_STATUS_NOT_SUPPORTED:
            return status;  // the same values as the NT statuses of the same meaning
        default:
            return STATUS_UNSUCCESSFUL;
    }
}

// Under the adapter lock: a query may go down only to an awake, bound adapter. Counted, so that
// the adapter neither sleeps nor closes its lower binding until the answer is in.
bool StartQuery(AdapterBinding* b) {
    NdisAcquireSpinLock(&b->Lock);
    const bool ready =
        !UnbindingOrStandingBy(*b) && b->MiniportPowerState.load() == NdisDeviceStateD0;
    if (ready) NdisInterlockedIncrement(&b->OutstandingControlQueries);
    NdisReleaseSpinLock(&b->Lock);
    return ready;
}

// The context's request block serves one query at a time.
bool ClaimRequestBlock(OpenContext* context) {
    NdisAcquireSpinLock(&context->Lock);
    const bool free = context->QueryBusy == 0;
    context->QueryBusy = TRUE;
    NdisReleaseSpinLock(&context->Lock);
    return free;
}

void ReleaseRequestBlock(OpenContext* context) {
    NdisAcquireSpinLock(&context->Lock);
    context->QueryBusy = FALSE;
    NdisReleaseSpinLock(&context->Lock);
}

}  // namespace

NTSTATUS QueryOid(OpenContext* context, ControlIo& io) {
    if (context == nullptr || context->Binding == nullptr) return STATUS_INVALID_HANDLE;
    if (io.InputLength != kOidSize) return STATUS_INVALID_PARAMETER;
    AdapterBinding* b = context->Binding;
    if (!StartQuery(b)) return STATUS_INVALID_DEVICE_STATE;
    if (!ClaimRequestBlock(context)) {
        NdisInterlockedDecrement(&b->OutstandingControlQueries);
        return STATUS_DEVICE_BUSY;
    }
    ReferenceOpenContext(context);

    NDIS_OID oid;
    std::memcpy(&oid, io.Buffer, kOidSize);
    ControlRequest& request = context->Query;
    request.Request = NDIS_REQUEST{};
    request.Request.RequestType = NdisRequestQueryInformation;
    request.Request.DATA.QUERY_INFORMATION.Oid = oid;
    request.Request.DATA.QUERY_INFORMATION.InformationBuffer = io.Buffer;
    request.Request.DATA.QUERY_INFORMATION.InformationBufferLength = io.OutputLength;
    request.Complete = QueryComplete;
    NdisResetEvent(&context->QueryDone);
    NDIS_STATUS status;
    NdisRequest(&status, b->BindingHandle, &request.Request);
    if (status != NDIS_STATUS_PENDING) QueryComplete(&request, status);
    NdisWaitEvent(&context->QueryDone, 0);

    status = context->QueryStatus;
    const ULONG written = request.Request.DATA.QUERY_INFORMATION.BytesWritten;
    ReleaseRequestBlock(context);
    NdisInterlockedDecrement(&b->OutstandingControlQueries);
    DereferenceOpenContext(context);

    if (status != NDIS_STATUS_SUCCESS) return MapQueryStatus(status);
    // An adapter that claims more than the buffer held is not believed.
    io.Information = written < io.OutputLength ? written : io.OutputLength;
    return STATUS_SUCCESS;
}
