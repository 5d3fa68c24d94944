// Virtual adapter instances: the driver's miniport edge and the upper protocol above it.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "fv_drv/ndis/ndis_internal.h"

using namespace ndis::detail;

namespace {

MiniportBlock* FromHandle(NDIS_HANDLE h) { return static_cast<MiniportBlock*>(h); }

// The media a virtual adapter can present.
constexpr NDIS_MEDIUM kOfferedMedia[] = {NdisMedium802_3, NdisMedium802_5, NdisMediumFddi,
                                         NdisMediumWan};

// FDDI headers: frame control, then destination and source; the 0x40 bit of the frame control
// selects long addresses.
constexpr UCHAR kFddiLongAddressBit = 0x40;
constexpr UINT kFddiLongAddressLength = 6;
constexpr UINT kFddiShortAddressLength = 2;

NDIS_STATUS CallRequestHandler(MiniportBlock* m, PNDIS_REQUEST r) {
    const NDIS_MINIPORT_CHARACTERISTICS& c = m->Driver->Chars;
    if (r->RequestType == NdisRequestQueryInformation) {
        auto& q = r->DATA.QUERY_INFORMATION;
        return c.QueryInformationHandler(m->Context, q.Oid, q.InformationBuffer,
                                         q.InformationBufferLength, &q.BytesWritten,
                                         &q.BytesNeeded);
    }
    auto& s = r->DATA.SET_INFORMATION;
    return c.SetInformationHandler(m->Context, s.Oid, s.InformationBuffer,
                                   s.InformationBufferLength, &s.BytesRead, &s.BytesNeeded);
}

// Runs waiting requests until one pends or none is left.
void StartWaitingRequests(MiniportBlock* m) {
    for (;;) {
        PNDIS_REQUEST next;
        {
            std::lock_guard guard(m->RequestLock);
            if (m->WaitingRequests.empty()) {
                m->ActiveRequest = nullptr;
                return;
            }
            next = m->WaitingRequests.front();
            m->WaitingRequests.pop_front();
            m->ActiveRequest = next;
        }
        const NDIS_STATUS status = CallRequestHandler(m, next);
        if (status == NDIS_STATUS_PENDING) return;
        if (auto* upper = m->Upper.load()) upper->RequestComplete(next, status);
    }
}

void CompleteActiveRequest(NDIS_HANDLE h, NDIS_STATUS status) {
    MiniportBlock* m = FromHandle(h);
    PNDIS_REQUEST done;
    {
        std::lock_guard guard(m->RequestLock);
        done = m->ActiveRequest;
    }
    if (done == nullptr) return;
    if (auto* upper = m->Upper.load()) upper->RequestComplete(done, status);
    StartWaitingRequests(m);
}

void IndicateLookahead(NDIS_HANDLE h, NDIS_MEDIUM medium, NDIS_HANDLE context, PVOID header,
                       UINT headerSize, PVOID lookahead, UINT lookaheadSize, UINT packetSize,
                       UINT fddiAddressLength) {
    auto* upper = FromHandle(h)->Upper.load();
    if (upper == nullptr) return;
    upper->Receive({medium, context, static_cast<const UCHAR*>(header), headerSize,
                    static_cast<const UCHAR*>(lookahead), lookaheadSize, packetSize,
                    fddiAddressLength});
}

void IndicateReceiveCompleteUp(NDIS_HANDLE h, NDIS_MEDIUM medium) {
    if (auto* upper = FromHandle(h)->Upper.load()) upper->ReceiveComplete(medium);
}

}  // namespace

NDIS_STATUS NdisIMInitializeDeviceInstanceEx(NDIS_HANDLE driverHandle, PNDIS_STRING driverInstance,
                                             NDIS_HANDLE deviceContext) {
    auto block = std::make_unique<MiniportBlock>();
    block->Driver = static_cast<DriverBlock*>(driverHandle);
    block->Name = FromNdisString(driverInstance);
    block->Context = deviceContext;
    Wrapper& w = TheWrapper();
    {
        std::lock_guard guard(w.Lock);
        for (MiniportBlock* m : w.Miniports) {
            if (m->Name == block->Name) return NDIS_STATUS_FAILURE;
        }
        w.Miniports.push_back(block.get());
    }
    MiniportBlock* m = block.release();
    NDIS_MEDIUM offered[std::size(kOfferedMedia)];
    std::copy(std::begin(kOfferedMedia), std::end(kOfferedMedia), offered);
    NDIS_STATUS openError = NDIS_STATUS_SUCCESS;
    UINT selected = 0;
    const NDIS_STATUS status = m->Driver->Chars.InitializeHandler(
        &openError, &selected, offered, UINT(std::size(offered)), m, nullptr);
    {
        std::lock_guard guard(w.Lock);
        if (status == NDIS_STATUS_SUCCESS && selected < std::size(offered)) {
            m->Medium = offered[selected];
            return NDIS_STATUS_SUCCESS;
        }
        std::erase(w.Miniports, m);
    }
    delete m;
    return status == NDIS_STATUS_SUCCESS ? NDIS_STATUS_FAILURE : status;
}

NDIS_STATUS NdisIMCancelInitializeDeviceInstance(NDIS_HANDLE, PNDIS_STRING deviceInstance) {
    // Initialization runs inside NdisIMInitializeDeviceInstanceEx, so an instance that exists
    // has started: it cannot be cancelled.
    const std::u16string name = FromNdisString(deviceInstance);
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    for (MiniportBlock* m : w.Miniports) {
        if (m->Name == name) return NDIS_STATUS_FAILURE;
    }
    return NDIS_STATUS_SUCCESS;
}

NDIS_STATUS NdisIMDeInitializeDeviceInstance(NDIS_HANDLE ndisMiniportHandle) {
    MiniportBlock* m = FromHandle(ndisMiniportHandle);
    if (auto* upper = m->Upper.load()) upper->Unbind();
    m->Driver->Chars.HaltHandler(m->Context);
    m->Upper.store(nullptr);
    Wrapper& w = TheWrapper();
    {
        std::lock_guard guard(w.Lock);
        std::erase(w.Miniports, m);
    }
    delete m;
    return NDIS_STATUS_SUCCESS;
}

NDIS_HANDLE NdisIMGetDeviceContext(NDIS_HANDLE miniportAdapterHandle) {
    return FromHandle(miniportAdapterHandle)->Context;
}

void NdisMSetAttributesEx(NDIS_HANDLE miniportAdapterHandle, NDIS_HANDLE miniportAdapterContext,
                          UINT, ULONG attributeFlags, NDIS_INTERFACE_TYPE) {
    MiniportBlock* m = FromHandle(miniportAdapterHandle);
    m->Context = miniportAdapterContext;
    m->Attributes = attributeFlags;
}

void NdisMSendComplete(NDIS_HANDLE h, PNDIS_PACKET packet, NDIS_STATUS status) {
    if (auto* upper = FromHandle(h)->Upper.load()) upper->SendComplete(packet, status);
}

void NdisMIndicateReceivePacket(NDIS_HANDLE h, PPNDIS_PACKET packetArray, UINT numberOfPackets) {
    MiniportBlock* m = FromHandle(h);
    auto* upper = m->Upper.load();
    for (UINT i = 0; i < numberOfPackets; ++i) {
        PNDIS_PACKET p = packetArray[i];
        const bool mustCopy = NDIS_GET_PACKET_STATUS(p) == NDIS_STATUS_RESOURCES;
        p->ReturnTo = m;
        BeginIndication(p);
        const INT held = upper != nullptr ? upper->ReceivePacket(p) : 0;
        if (mustCopy) continue;
        if (EndIndication(p, held)) m->Driver->Chars.ReturnPacketHandler(m->Context, p);
    }
}

void NdisMEthIndicateReceive(NDIS_HANDLE h, NDIS_HANDLE context, PVOID header, UINT headerSize,
                             PVOID lookahead, UINT lookaheadSize, UINT packetSize) {
    IndicateLookahead(h, NdisMedium802_3, context, header, headerSize, lookahead, lookaheadSize,
                      packetSize, 0);
}

void NdisMTrIndicateReceive(NDIS_HANDLE h, NDIS_HANDLE context, PVOID header, UINT headerSize,
                            PVOID lookahead, UINT lookaheadSize, UINT packetSize) {
    IndicateLookahead(h, NdisMedium802_5, context, header, headerSize, lookahead, lookaheadSize,
                      packetSize, 0);
}

void NdisMFddiIndicateReceive(NDIS_HANDLE h, NDIS_HANDLE context, PVOID header, UINT headerSize,
                              PVOID lookahead, UINT lookaheadSize, UINT packetSize) {
    if (headerSize == 0) return;
    const UINT addressLength = (static_cast<const UCHAR*>(header)[0] & kFddiLongAddressBit) != 0
                                   ? kFddiLongAddressLength
                                   : kFddiShortAddressLength;
    if (headerSize < 1 + 2 * addressLength) return;  // no room for both addresses
    IndicateLookahead(h, NdisMediumFddi, context, header, headerSize, lookahead, lookaheadSize,
                      packetSize, addressLength);
}

void NdisMEthIndicateReceiveComplete(NDIS_HANDLE h) { IndicateReceiveCompleteUp(h, NdisMedium802_3); }
void NdisMTrIndicateReceiveComplete(NDIS_HANDLE h) { IndicateReceiveCompleteUp(h, NdisMedium802_5); }
void NdisMFddiIndicateReceiveComplete(NDIS_HANDLE h) { IndicateReceiveCompleteUp(h, NdisMediumFddi); }

void NdisMQueryInformationComplete(NDIS_HANDLE h, NDIS_STATUS status) {
    CompleteActiveRequest(h, status);
}

void NdisMSetInformationComplete(NDIS_HANDLE h, NDIS_STATUS status) {
    CompleteActiveRequest(h, status);
}

void NdisMIndicateStatus(NDIS_HANDLE h, NDIS_STATUS generalStatus, PVOID statusBuffer,
                         UINT statusBufferSize) {
    if (auto* upper = FromHandle(h)->Upper.load()) {
        upper->Status(generalStatus, statusBuffer, statusBufferSize);
    }
}

void NdisMIndicateStatusComplete(NDIS_HANDLE h) {
    if (auto* upper = FromHandle(h)->Upper.load()) upper->StatusComplete();
}

void NdisMTransferDataComplete(NDIS_HANDLE h, PNDIS_PACKET packet, NDIS_STATUS status,
                               UINT bytesTransferred) {
    if (auto* upper = FromHandle(h)->Upper.load()) {
        upper->TransferDataComplete(packet, status, bytesTransferred);
    }
}

namespace ndis::media {

NDIS_STATUS AnswerQuery(PNDIS_REQUEST request, const void* value, UINT size) {
    auto& q = request->DATA.QUERY_INFORMATION;
    if (q.InformationBufferLength < size) {
        q.BytesWritten = 0;
        q.BytesNeeded = size;
        return NDIS_STATUS_BUFFER_TOO_SHORT;
    }
    std::memcpy(q.InformationBuffer, value, size);
    q.BytesWritten = size;
    q.BytesNeeded = 0;
    return NDIS_STATUS_SUCCESS;
}

NDIS_HANDLE BindUpper(const std::u16string& virtualAdapterName, UpperProtocol* protocol) {
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    for (MiniportBlock* m : w.Miniports) {
        if (m->Name != virtualAdapterName) continue;
        UpperProtocol* none = nullptr;
        return m->Upper.compare_exchange_strong(none, protocol) ? m : nullptr;
    }
    return nullptr;
}

void UnbindUpper(NDIS_HANDLE virtualAdapter) { FromHandle(virtualAdapter)->Upper.store(nullptr); }

NDIS_MEDIUM UpperMedium(NDIS_HANDLE virtualAdapter) { return FromHandle(virtualAdapter)->Medium; }

void UpperSendPackets(NDIS_HANDLE virtualAdapter, PNDIS_PACKET* packets, UINT count) {
    MiniportBlock* m = FromHandle(virtualAdapter);
    m->Driver->Chars.SendPacketsHandler(m->Context, packets, count);
}

NDIS_STATUS UpperRequest(NDIS_HANDLE virtualAdapter, PNDIS_REQUEST request) {
    MiniportBlock* m = FromHandle(virtualAdapter);
    {
        std::lock_guard guard(m->RequestLock);
        if (m->ActiveRequest != nullptr) {
            m->WaitingRequests.push_back(request);
            return NDIS_STATUS_PENDING;
        }
        m->ActiveRequest = request;
    }
    const NDIS_STATUS status = CallRequestHandler(m, request);
    if (status != NDIS_STATUS_PENDING) StartWaitingRequests(m);
    return status;
}

NDIS_STATUS UpperTransferData(NDIS_HANDLE virtualAdapter, NDIS_HANDLE macReceiveContext,
                              UINT byteOffset, UINT bytesToTransfer, PNDIS_PACKET packet,
                              PUINT bytesTransferred) {
    MiniportBlock* m = FromHandle(virtualAdapter);
    *bytesTransferred = 0;
    return m->Driver->Chars.TransferDataHandler(packet, bytesTransferred, m->Context,
                                                macReceiveContext, byteOffset, bytesToTransfer);
}

void UpperReturnPackets(PNDIS_PACKET* packets, UINT count) {
    for (UINT i = 0; i < count; ++i) {
        PNDIS_PACKET p = packets[i];
        if (DropHolder(p)) {
            auto* m = static_cast<MiniportBlock*>(p->ReturnTo);
            m->Driver->Chars.ReturnPacketHandler(m->Context, p);
        }
    }
}

}  // namespace ndis::media

namespace ndis::host {

std::vector<std::u16string> VirtualAdapters() {
    Wrapper& w = TheWrapper();
    std::lock_guard guard(w.Lock);
    std::vector<std::u16string> names;
    for (MiniportBlock* m : w.Miniports) names.push_back(m->Name);
    return names;
}

}  // namespace ndis::host
