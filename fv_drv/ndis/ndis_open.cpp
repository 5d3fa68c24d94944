// Open bindings on lower adapters: the protocol's calls down and the adapter's calls up.
#include "fv_drv/ndis/ndis_internal.h"

using namespace ndis::detail;

namespace {

// The look-ahead indication running on this thread, for NdisGetReceivedPacket.
struct CurrentIndication {
    const OpenBlock* Open = nullptr;
    NDIS_HANDLE MacContext = nullptr;
    PNDIS_PACKET Packet = nullptr;
};
thread_local CurrentIndication t_indication;

OpenBlock* FromHandle(NDIS_HANDLE h) { return static_cast<OpenBlock*>(h); }

}  // namespace

void NdisOpenAdapter(PNDIS_STATUS status, PNDIS_STATUS openErrorStatus,
                     PNDIS_HANDLE ndisBindingHandle, PUINT selectedMediumIndex,
                     PNDIS_MEDIUM mediumArray, UINT mediumArraySize,
                     NDIS_HANDLE ndisProtocolHandle, NDIS_HANDLE protocolBindingContext,
                     PNDIS_STRING adapterName, UINT, PVOID) {
    *ndisBindingHandle = nullptr;
    *openErrorStatus = NDIS_STATUS_SUCCESS;
    auto* protocol = static_cast<ProtocolBlock*>(ndisProtocolHandle);
    const std::u16string name = FromNdisString(adapterName);
    Wrapper& w = TheWrapper();
    ndis::media::LowerAdapter* adapter = nullptr;
    {
        std::lock_guard guard(w.Lock);
        for (ndis::media::LowerAdapter* a : w.Adapters) {
            if (a->Name() == name) adapter = a;
        }
    }
    if (adapter == nullptr) {
        *status = NDIS_STATUS_ADAPTER_NOT_FOUND;
        return;
    }
    UINT index = 0;
    while (index < mediumArraySize && mediumArray[index] != adapter->Medium()) ++index;
    if (index == mediumArraySize) {
        *status = NDIS_STATUS_UNSUPPORTED_MEDIA;
        return;
    }
    *selectedMediumIndex = index;

    auto* open = new OpenBlock(protocol, protocolBindingContext, adapter);
    {
        std::lock_guard guard(w.Lock);
        bool recorded = false;
        for (BindingRecord& r : w.Bindings) {
            if (r.Protocol == protocol && r.Adapter == adapter && r.Open == nullptr) {
                r.Open = open;
                recorded = true;
                break;
            }
        }
        if (!recorded) w.Bindings.push_back({protocol, adapter, open});
    }
    *ndisBindingHandle = open;
    *status = adapter->Open(open);
    if (*status != NDIS_STATUS_SUCCESS && *status != NDIS_STATUS_PENDING) {
        *ndisBindingHandle = nullptr;
        ForgetOpen(open);
    }
}

void NdisCloseAdapter(PNDIS_STATUS status, NDIS_HANDLE ndisBindingHandle) {
    OpenBlock* open = FromHandle(ndisBindingHandle);
    *status = open->Adapter->Close();
    if (*status != NDIS_STATUS_PENDING) ForgetOpen(open);
}

void NdisSend(PNDIS_STATUS status, NDIS_HANDLE ndisBindingHandle, PNDIS_PACKET packet) {
    *status = FromHandle(ndisBindingHandle)->Adapter->Send(packet);
}

void NdisRequest(PNDIS_STATUS status, NDIS_HANDLE ndisBindingHandle, PNDIS_REQUEST ndisRequest) {
    *status = FromHandle(ndisBindingHandle)->Adapter->Request(ndisRequest);
}

void NdisTransferData(PNDIS_STATUS status, NDIS_HANDLE ndisBindingHandle,
                      NDIS_HANDLE macReceiveContext, UINT byteOffset, UINT bytesToTransfer,
                      PNDIS_PACKET packet, PUINT bytesTransferred) {
    *bytesTransferred = 0;
    *status = FromHandle(ndisBindingHandle)
                  ->Adapter->TransferData(macReceiveContext, byteOffset, bytesToTransfer, packet,
                                          bytesTransferred);
}

void NdisReturnPackets(PNDIS_PACKET* packetsToReturn, UINT numberOfPackets) {
    for (UINT i = 0; i < numberOfPackets; ++i) {
        PNDIS_PACKET p = packetsToReturn[i];
        if (DropHolder(p)) {
            static_cast<ndis::media::LowerAdapter*>(p->ReturnTo)->ReturnPacket(p);
        }
    }
}

PNDIS_PACKET NdisGetReceivedPacket(NDIS_HANDLE ndisBindingHandle, NDIS_HANDLE macContext) {
    const CurrentIndication& c = t_indication;
    if (c.Open != ndisBindingHandle || c.MacContext != macContext) return nullptr;
    return c.Packet;
}

namespace ndis::detail {

void OpenBlock::OpenComplete(NDIS_STATUS status) {
    const bool failed = status != NDIS_STATUS_SUCCESS;
    if (failed) DetachOpen(this);
    Protocol->Chars.OpenAdapterCompleteHandler(Context, status, NDIS_STATUS_SUCCESS);
    if (failed) delete this;
}

void OpenBlock::CloseComplete(NDIS_STATUS status) {
    DetachOpen(this);
    Protocol->Chars.CloseAdapterCompleteHandler(Context, status);
    delete this;
}

void OpenBlock::SendComplete(PNDIS_PACKET packet, NDIS_STATUS status) {
    Protocol->Chars.SendCompleteHandler(Context, packet, status);
}

void OpenBlock::RequestComplete(PNDIS_REQUEST request, NDIS_STATUS status) {
    Protocol->Chars.RequestCompleteHandler(Context, request, status);
}

void OpenBlock::TransferDataComplete(PNDIS_PACKET packet, NDIS_STATUS status,
                                     UINT bytesTransferred) {
    Protocol->Chars.TransferDataCompleteHandler(Context, packet, status, bytesTransferred);
}

void OpenBlock::IndicateReceivePacket(PNDIS_PACKET* packets, UINT count) {
    for (UINT i = 0; i < count; ++i) {
        PNDIS_PACKET p = packets[i];
        const bool mustCopy = NDIS_GET_PACKET_STATUS(p) == NDIS_STATUS_RESOURCES;
        p->ReturnTo = Adapter;
        BeginIndication(p);
        const INT held = Protocol->Chars.ReceivePacketHandler(Context, p);
        if (mustCopy) continue;  // the adapter's again on return, whatever the protocol said
        if (EndIndication(p, held)) Adapter->ReturnPacket(p);
    }
}

NDIS_STATUS OpenBlock::IndicateReceive(NDIS_HANDLE macReceiveContext, PVOID header,
                                       UINT headerSize, PVOID lookahead, UINT lookaheadSize,
                                       UINT packetSize, PNDIS_PACKET packet) {
    const CurrentIndication saved = t_indication;
    t_indication = {this, macReceiveContext, packet};
    const NDIS_STATUS status = Protocol->Chars.ReceiveHandler(
        Context, macReceiveContext, header, headerSize, lookahead, lookaheadSize, packetSize);
    t_indication = saved;
    return status;
}

void OpenBlock::IndicateReceiveComplete() { Protocol->Chars.ReceiveCompleteHandler(Context); }

void OpenBlock::IndicateStatus(NDIS_STATUS status, PVOID buffer, UINT size) {
    Protocol->Chars.StatusHandler(Context, status, buffer, size);
}

void OpenBlock::IndicateStatusComplete() { Protocol->Chars.StatusCompleteHandler(Context); }

NDIS_STATUS OpenBlock::PnPEvent(PNET_PNP_EVENT event) {
    if (Protocol->Chars.PnPEventHandler == nullptr) return NDIS_STATUS_SUCCESS;
    return Protocol->Chars.PnPEventHandler(Context, event);
}

}  // namespace ndis::detail
