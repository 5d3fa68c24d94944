#include "fv_drv/ndis/sim/SimStack.h"

#include <cstring>

namespace ndis::sim {

namespace {
constexpr UINT kPoolDescriptors = 64;
constexpr UINT kPoolLimit = 65535;
}  // namespace

struct Stack::Owned {
    std::uint64_t Id = 0;
    Frame Bytes;
    UINT HeaderSize = 0;  // transfers: bytes of header kept in front
    NDIS_BUFFER Buffer;
    PNDIS_PACKET Packet = nullptr;
};

Stack::Stack() {
    NDIS_STATUS status;
    NdisAllocatePacketPoolEx(&status, &pool_, kPoolDescriptors, kPoolLimit - kPoolDescriptors, 0);
}

Stack::~Stack() {
    Close();
    std::lock_guard guard(lock_);
    for (auto& [p, owned] : sending_) NdisFreePacket(p);
    for (auto& [p, owned] : transferring_) NdisFreePacket(p);
    NdisFreePacketPool(pool_);
}

bool Stack::Bind(const std::u16string& virtualAdapterName) {
    NDIS_HANDLE h = ndis::media::BindUpper(virtualAdapterName, this);
    adapter_.store(h);
    unbound_.store(false);
    return h != nullptr;
}

void Stack::Close() {
    std::size_t unused = ReturnHeld();
    (void)unused;
    if (NDIS_HANDLE h = adapter_.exchange(nullptr); h != nullptr && !unbound_.load()) {
        ndis::media::UnbindUpper(h);
    }
}

NDIS_MEDIUM Stack::Medium() const { return ndis::media::UpperMedium(adapter_.load()); }

std::unique_ptr<Stack::Owned> Stack::MakeOwned(Frame bytes) {
    auto owned = std::make_unique<Owned>();
    owned->Bytes = std::move(bytes);
    NDIS_STATUS status;
    NdisAllocatePacket(&status, &owned->Packet, pool_);
    if (status != NDIS_STATUS_SUCCESS) return nullptr;
    owned->Buffer.VirtualAddress = owned->Bytes.data();
    owned->Buffer.Length = UINT(owned->Bytes.size());
    NdisChainBufferAtBack(owned->Packet, &owned->Buffer);
    return owned;
}

std::uint64_t Stack::Send(const std::vector<Frame>& frames) {
    std::vector<PNDIS_PACKET> packets;
    std::uint64_t first;
    {
        std::lock_guard guard(lock_);
        first = nextId_;
        for (const Frame& f : frames) {
            std::unique_ptr<Owned> owned = MakeOwned(f);
            if (owned == nullptr) break;
            owned->Id = nextId_++;
            packets.push_back(owned->Packet);
            sending_.emplace(owned->Packet, std::move(owned));
        }
    }
    ndis::media::UpperSendPackets(adapter_.load(), packets.data(), UINT(packets.size()));
    return first;
}

void Stack::SendComplete(PNDIS_PACKET packet, NDIS_STATUS status) {
    std::lock_guard guard(lock_);
    auto it = sending_.find(packet);
    if (it == sending_.end()) {
        completions_[~std::uint64_t(0)].push_back(status);  // a packet that was not ours
        return;
    }
    if (KeepHistory.load()) completions_[it->second->Id].push_back(status);
    NdisFreePacket(packet);
    sending_.erase(it);
}

std::shared_ptr<StackRequest> Stack::Issue(std::shared_ptr<StackRequest> request) {
    request->Request.DATA.QUERY_INFORMATION.InformationBuffer = request->Buffer.data();
    request->Request.DATA.QUERY_INFORMATION.InformationBufferLength = UINT(request->Buffer.size());
    {
        std::lock_guard guard(lock_);
        requests_[&request->Request] = request;
    }
    const NDIS_STATUS status = ndis::media::UpperRequest(adapter_.load(), &request->Request);
    if (status != NDIS_STATUS_PENDING) RequestComplete(&request->Request, status);
    return request;
}

std::shared_ptr<StackRequest> Stack::Query(NDIS_OID oid, UINT bufferSize) {
    auto request = std::make_shared<StackRequest>();
    request->Request.RequestType = NdisRequestQueryInformation;
    request->Request.DATA.QUERY_INFORMATION.Oid = oid;
    request->Buffer.assign(bufferSize, 0);
    return Issue(std::move(request));
}

std::shared_ptr<StackRequest> Stack::Set(NDIS_OID oid, std::vector<std::uint8_t> data) {
    auto request = std::make_shared<StackRequest>();
    request->Request.RequestType = NdisRequestSetInformation;
    request->Request.DATA.SET_INFORMATION.Oid = oid;
    request->Buffer = std::move(data);
    return Issue(std::move(request));
}

void Stack::RequestComplete(PNDIS_REQUEST request, NDIS_STATUS status) {
    std::shared_ptr<StackRequest> r;
    {
        std::lock_guard guard(lock_);
        auto it = requests_.find(request);
        if (it == requests_.end()) return;
        r = it->second;
        requests_.erase(it);
    }
    r->Status = status;
    r->Done.store(true);
}

INT Stack::ReceivePacket(PNDIS_PACKET packet) {
    const NDIS_STATUS status = NDIS_GET_PACKET_STATUS(packet);
    std::lock_guard guard(lock_);
    if (KeepHistory.load()) {
        received_.push_back({FrameOf(packet), status, NDIS_GET_PACKET_HEADER_SIZE(packet)});
    }
    if (status != NDIS_STATUS_RESOURCES && HoldPackets.load()) {
        held_.push_back(packet);
        return 1;
    }
    return 0;
}

std::size_t Stack::ReturnHeld() {
    std::vector<PNDIS_PACKET> held;
    {
        std::lock_guard guard(lock_);
        held.swap(held_);
    }
    ndis::media::UpperReturnPackets(held.data(), UINT(held.size()));
    return held.size();
}

NDIS_STATUS Stack::Receive(const ndis::media::LookaheadIndication& in) {
    {
        std::lock_guard guard(lock_);
        lookaheads_.push_back({in.Medium, Frame(in.Header, in.Header + in.HeaderSize),
                               Frame(in.Lookahead, in.Lookahead + in.LookaheadSize),
                               in.PacketSize, in.FddiAddressLength});
    }
    if (!TransferRest.load()) return NDIS_STATUS_SUCCESS;
    Frame bytes(in.Header, in.Header + in.HeaderSize);
    bytes.resize(in.HeaderSize + in.PacketSize);
    std::unique_ptr<Owned> owned = MakeOwned(std::move(bytes));
    if (owned == nullptr) return NDIS_STATUS_RESOURCES;
    // Transfer into the part after the header.
    owned->HeaderSize = in.HeaderSize;
    owned->Buffer.VirtualAddress = owned->Bytes.data() + in.HeaderSize;
    owned->Buffer.Length = in.PacketSize;
    PNDIS_PACKET packet = owned->Packet;
    {
        std::lock_guard guard(lock_);
        transferring_.emplace(packet, std::move(owned));
    }
    UINT transferred = 0;
    const NDIS_STATUS status = ndis::media::UpperTransferData(
        adapter_.load(), in.MacReceiveContext, 0, in.PacketSize, packet, &transferred);
    if (status != NDIS_STATUS_PENDING) FinishTransfer(packet, status, transferred);
    return NDIS_STATUS_SUCCESS;
}

void Stack::TransferDataComplete(PNDIS_PACKET packet, NDIS_STATUS status, UINT bytesTransferred) {
    FinishTransfer(packet, status, bytesTransferred);
}

void Stack::FinishTransfer(PNDIS_PACKET packet, NDIS_STATUS status, UINT bytes) {
    std::lock_guard guard(lock_);
    auto it = transferring_.find(packet);
    if (it == transferring_.end()) return;
    if (status == NDIS_STATUS_SUCCESS) {
        Frame frame = it->second->Bytes;
        frame.resize(it->second->HeaderSize + bytes);
        transferred_.push_back(std::move(frame));
    }
    NdisFreePacket(packet);
    transferring_.erase(it);
}

void Stack::ReceiveComplete(NDIS_MEDIUM medium) {
    std::lock_guard guard(lock_);
    receiveCompletes_.push_back(medium);
}

void Stack::Status(NDIS_STATUS status, PVOID, UINT) {
    std::lock_guard guard(lock_);
    statuses_.push_back(status);
}

void Stack::StatusComplete() {
    std::lock_guard guard(lock_);
    ++statusCompletes_;
}

void Stack::Unbind() {
    unbound_.store(true);
    ReturnHeld();
}

std::map<std::uint64_t, std::vector<NDIS_STATUS>> Stack::SendCompletions() const {
    std::lock_guard guard(lock_);
    return completions_;
}

std::size_t Stack::SendsOutstanding() const {
    std::lock_guard guard(lock_);
    return sending_.size();
}

std::vector<ReceivedRecord> Stack::Received() const {
    std::lock_guard guard(lock_);
    return received_;
}

std::vector<LookaheadRecord> Stack::Lookaheads() const {
    std::lock_guard guard(lock_);
    return lookaheads_;
}

std::vector<Frame> Stack::Transferred() const {
    std::lock_guard guard(lock_);
    return transferred_;
}

std::vector<NDIS_MEDIUM> Stack::ReceiveCompletes() const {
    std::lock_guard guard(lock_);
    return receiveCompletes_;
}

std::vector<NDIS_STATUS> Stack::Statuses() const {
    std::lock_guard guard(lock_);
    return statuses_;
}

std::size_t Stack::StatusCompletes() const {
    std::lock_guard guard(lock_);
    return statusCompletes_;
}

}  // namespace ndis::sim
