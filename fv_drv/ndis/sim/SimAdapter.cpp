#include "fv_drv/ndis/sim/SimAdapter.h"

#include <algorithm>
#include <cstring>

namespace ndis::sim {

namespace {

constexpr UINT kPoolDescriptors = 64;
constexpr UINT kPoolLimit = 65535;
constexpr UINT kEthernetHeaderSize = 14;
constexpr UINT kFddiHeaderSize = 13;


}  // namespace

Frame FrameOf(PNDIS_PACKET packet) {
    Frame frame;
    PNDIS_BUFFER buffer = nullptr;
    NdisQueryPacket(packet, nullptr, nullptr, &buffer, nullptr);
    for (; buffer != nullptr; NdisGetNextBuffer(buffer, &buffer)) {
        PVOID address = nullptr;
        UINT length = 0;
        NdisQueryBuffer(buffer, &address, &length);
        const auto* bytes = static_cast<const std::uint8_t*>(address);
        frame.insert(frame.end(), bytes, bytes + length);
    }
    return frame;
}

struct Adapter::Indicated {
    Frame Bytes;
    NDIS_BUFFER Buffer;
    PNDIS_PACKET Packet = nullptr;
};

Adapter::Adapter(AdapterConfig config) : config_(std::move(config)) {
    NDIS_STATUS status;
    NdisAllocatePacketPoolEx(&status, &pool_, kPoolDescriptors, kPoolLimit - kPoolDescriptors, 0);
}

Adapter::~Adapter() {
    JoinHelpers();
    {
        std::lock_guard guard(lock_);
        for (auto& [packet, indicated] : held_) NdisFreePacket(packet);
        held_.clear();
    }
    NdisFreePacketPool(pool_);
}

void Adapter::JoinHelpers() {
    std::vector<std::thread> helpers;
    {
        std::lock_guard guard(lock_);
        helpers.swap(helpers_);
    }
    for (std::thread& t : helpers) t.join();
}

void Adapter::CompleteLater(bool open, NDIS_STATUS status) {
    ndis::media::LowerEdge* edge = edge_.load();
    std::lock_guard guard(lock_);
    helpers_.emplace_back([this, edge, open, status] {
        if (open) {
            if (status != NDIS_STATUS_SUCCESS) edge_.store(nullptr);
            edge->OpenComplete(status);
        } else {
            edge_.store(nullptr);
            edge->CloseComplete(status);
        }
    });
}

NDIS_STATUS Adapter::Open(ndis::media::LowerEdge* edge) {
    const NDIS_STATUS status = OpenStatus.load();
    edge_.store(edge);
    if (Opens.load() == Completion::Deferred) {
        CompleteLater(true, status);
        return NDIS_STATUS_PENDING;
    }
    if (status != NDIS_STATUS_SUCCESS) edge_.store(nullptr);
    return status;
}

NDIS_STATUS Adapter::Close() {
    if (Closes.load() == Completion::Deferred) {
        CompleteLater(false, NDIS_STATUS_SUCCESS);
        return NDIS_STATUS_PENDING;
    }
    edge_.store(nullptr);
    return NDIS_STATUS_SUCCESS;
}

NDIS_STATUS Adapter::Send(PNDIS_PACKET packet) {
    std::lock_guard guard(lock_);
    if (KeepHistory.load()) sent_.push_back(FrameOf(packet));
    if (Sends.load() == Completion::Deferred) {
        pendingSends_.push_back(packet);
        return NDIS_STATUS_PENDING;
    }
    return SendStatus.load();
}

std::size_t Adapter::CompletePendingSends() {
    std::deque<PNDIS_PACKET> done;
    {
        std::lock_guard guard(lock_);
        done.swap(pendingSends_);
    }
    for (PNDIS_PACKET p : done) edge_.load()->SendComplete(p, SendStatus.load());
    return done.size();
}

NDIS_STATUS Adapter::Answer(PNDIS_REQUEST r) const {
    if (r->RequestType == NdisRequestSetInformation) {
        r->DATA.SET_INFORMATION.BytesRead = r->DATA.SET_INFORMATION.InformationBufferLength;
        r->DATA.SET_INFORMATION.BytesNeeded = 0;
        return NDIS_STATUS_SUCCESS;
    }
    switch (r->DATA.QUERY_INFORMATION.Oid) {
        case OID_GEN_VENDOR_DESCRIPTION:
            return ndis::media::AnswerQuery(r, config_.VendorDescription.c_str(),
                        UINT(config_.VendorDescription.size() + 1));
        case OID_GEN_MEDIA_IN_USE: {
            const ULONG medium = config_.Medium;
            return ndis::media::AnswerQuery(r, &medium, sizeof medium);
        }
        case OID_GEN_MAC_OPTIONS:
            return ndis::media::AnswerQuery(r, &config_.MacOptions, sizeof config_.MacOptions);
        case OID_802_3_CURRENT_ADDRESS:
            if (config_.Medium != NdisMedium802_3 && config_.Medium != NdisMediumWan) break;
            return ndis::media::AnswerQuery(r, config_.Address.data(), UINT(config_.Address.size()));
        case OID_FDDI_LONG_CURRENT_ADDR:
            if (config_.Medium != NdisMediumFddi) break;
            return ndis::media::AnswerQuery(r, config_.Address.data(), UINT(config_.Address.size()));
        case OID_PNP_CAPABILITIES: {
            NDIS_PNP_CAPABILITIES caps{0, {config_.MinWakeUp, config_.MinWakeUp, config_.MinWakeUp}};
            return ndis::media::AnswerQuery(r, &caps, sizeof caps);
        }
        default:
            break;
    }
    r->DATA.QUERY_INFORMATION.BytesWritten = 0;
    return NDIS_STATUS_NOT_SUPPORTED;
}

NDIS_STATUS Adapter::Request(PNDIS_REQUEST request) {
    std::lock_guard guard(lock_);
    if (KeepHistory.load()) oids_.push_back(request->DATA.QUERY_INFORMATION.Oid);
    if (Requests.load() == Completion::Deferred) {
        pendingRequests_.push_back(request);
        return NDIS_STATUS_PENDING;
    }
    return Answer(request);
}

std::size_t Adapter::CompletePendingRequests() {
    std::deque<PNDIS_REQUEST> done;
    {
        std::lock_guard guard(lock_);
        done.swap(pendingRequests_);
    }
    for (PNDIS_REQUEST r : done) edge_.load()->RequestComplete(r, Answer(r));
    return done.size();
}

NDIS_STATUS Adapter::TransferData(NDIS_HANDLE macReceiveContext, UINT byteOffset,
                                  UINT bytesToTransfer, PNDIS_PACKET packet,
                                  PUINT bytesTransferred) {
    *bytesTransferred = 0;
    std::lock_guard guard(lock_);
    auto it = lookaheadFrames_.find(reinterpret_cast<std::uintptr_t>(macReceiveContext));
    if (it == lookaheadFrames_.end()) return NDIS_STATUS_FAILURE;
    const Frame& frame = it->second;
    const std::size_t start = std::size_t(HeaderSize()) + byteOffset;
    std::size_t left = start < frame.size() ? std::min<std::size_t>(frame.size() - start, bytesToTransfer) : 0;
    std::size_t from = start;
    UINT copied = 0;
    PNDIS_BUFFER buffer = nullptr;
    NdisQueryPacket(packet, nullptr, nullptr, &buffer, nullptr);
    for (; buffer != nullptr && left > 0; NdisGetNextBuffer(buffer, &buffer)) {
        PVOID address = nullptr;
        UINT length = 0;
        NdisQueryBuffer(buffer, &address, &length);
        const std::size_t chunk = std::min<std::size_t>(length, left);
        std::memcpy(address, frame.data() + from, chunk);
        from += chunk;
        left -= chunk;
        copied += UINT(chunk);
    }
    if (Transfers.load() == Completion::Deferred) {
        pendingTransfers_.push_back({packet, copied});
        return NDIS_STATUS_PENDING;
    }
    *bytesTransferred = copied;
    return NDIS_STATUS_SUCCESS;
}

std::size_t Adapter::CompletePendingTransfers() {
    std::deque<PendingTransfer> done;
    {
        std::lock_guard guard(lock_);
        done.swap(pendingTransfers_);
    }
    for (const PendingTransfer& t : done) {
        edge_.load()->TransferDataComplete(t.Packet, NDIS_STATUS_SUCCESS, t.Bytes);
    }
    return done.size();
}

UINT Adapter::HeaderSize() const {
    return config_.Medium == NdisMediumFddi ? kFddiHeaderSize : kEthernetHeaderSize;
}

std::unique_ptr<Adapter::Indicated> Adapter::MakeIndicated(const Frame& frame) {
    auto indicated = std::make_unique<Indicated>();
    indicated->Bytes = frame;
    NDIS_STATUS status;
    NdisAllocatePacket(&status, &indicated->Packet, pool_);
    if (status != NDIS_STATUS_SUCCESS) return nullptr;
    indicated->Buffer.VirtualAddress = indicated->Bytes.data();
    indicated->Buffer.Length = UINT(indicated->Bytes.size());
    NdisChainBufferAtBack(indicated->Packet, &indicated->Buffer);
    NDIS_SET_PACKET_HEADER_SIZE(indicated->Packet, std::min<UINT>(HeaderSize(), UINT(frame.size())));
    return indicated;
}

void Adapter::IndicatePacket(const Frame& frame, NDIS_STATUS status) {
    std::unique_ptr<Indicated> indicated = MakeIndicated(frame);
    if (indicated == nullptr) return;
    PNDIS_PACKET packet = indicated->Packet;
    NDIS_SET_PACKET_STATUS(packet, status);
    const bool mustReclaim = status == NDIS_STATUS_RESOURCES;
    if (!mustReclaim) {
        std::lock_guard guard(lock_);
        held_.emplace(packet, std::move(indicated));
    }
    edge_.load()->IndicateReceivePacket(&packet, 1);
    if (mustReclaim) NdisFreePacket(packet);
}

void Adapter::ReturnPacket(PNDIS_PACKET packet) {
    std::lock_guard guard(lock_);
    auto it = held_.find(packet);
    if (it == held_.end()) return;
    NdisFreePacket(packet);
    held_.erase(it);
    ++returned_;
}

NDIS_STATUS Adapter::IndicateLookahead(const Frame& frame, UINT lookaheadSize, bool withDescriptor) {
    const UINT header = std::min<UINT>(HeaderSize(), UINT(frame.size()));
    const UINT available = UINT(frame.size()) - header;
    lookaheadSize = std::min(lookaheadSize, available);
    std::uintptr_t context;
    Frame* stored;
    {
        std::lock_guard guard(lock_);
        context = nextContext_++;
        stored = &lookaheadFrames_.emplace(context, frame).first->second;
    }
    std::unique_ptr<Indicated> descriptor = withDescriptor ? MakeIndicated(frame) : nullptr;
    const NDIS_STATUS status = edge_.load()->IndicateReceive(
        reinterpret_cast<NDIS_HANDLE>(context), stored->data(), header, stored->data() + header,
        lookaheadSize, available, descriptor != nullptr ? descriptor->Packet : nullptr);
    if (descriptor != nullptr) NdisFreePacket(descriptor->Packet);
    std::lock_guard guard(lock_);
    lookaheadFrames_.erase(context);  // transfers copy during the call
    return status;
}

void Adapter::IndicateReceiveComplete() { edge_.load()->IndicateReceiveComplete(); }

void Adapter::IndicateStatus(NDIS_STATUS status) { edge_.load()->IndicateStatus(status, nullptr, 0); }

void Adapter::IndicateStatusComplete() { edge_.load()->IndicateStatusComplete(); }

NDIS_STATUS Adapter::SetPower(NDIS_DEVICE_POWER_STATE state) {
    NET_PNP_EVENT event;
    event.NetEvent = NetEventSetPower;
    event.Buffer = &state;
    event.BufferLength = sizeof state;
    return edge_.load()->PnPEvent(&event);
}

std::vector<Frame> Adapter::SentFrames() const {
    std::lock_guard guard(lock_);
    return sent_;
}

std::size_t Adapter::SentCount() const {
    std::lock_guard guard(lock_);
    return sent_.size();
}

std::size_t Adapter::PendingSends() const {
    std::lock_guard guard(lock_);
    return pendingSends_.size();
}

std::size_t Adapter::PendingRequests() const {
    std::lock_guard guard(lock_);
    return pendingRequests_.size();
}

std::vector<NDIS_OID> Adapter::RequestedOids() const {
    std::lock_guard guard(lock_);
    return oids_;
}

std::size_t Adapter::PacketsHeld() const {
    std::lock_guard guard(lock_);
    return held_.size();
}

std::size_t Adapter::PacketsReturned() const {
    std::lock_guard guard(lock_);
    return returned_;
}

}  // namespace ndis::sim
