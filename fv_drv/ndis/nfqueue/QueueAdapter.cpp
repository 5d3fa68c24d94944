#include "fv_drv/ndis/nfqueue/QueueAdapter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <type_traits>


namespace ndis::nfqueue_media {
namespace {

constexpr UINT kEthernetHeaderSize = 14;
constexpr std::size_t kAddressLength = 6;
constexpr std::uint8_t kEtherTypeIpv4[2] = {0x08, 0x00};
// How soon verdicts that could not be sent are tried again when no packet comes first.
constexpr int kResendDelayMs = 10;

}  // namespace

std::string AttachedAdapterName(const std::string& interfaceName) {
    return kAttachedMarker + interfaceName;
}

QueueAdapter::QueueAdapter(ndis::linux_media::InterfaceInfo info, PacketQueue& queue)
    : InterfaceAdapter(std::move(info)), queue_(queue), slots_(kBatch) {
    static_assert(std::is_standard_layout_v<Slot>);
    decisions_.reserve(kBatch);
    NDIS_STATUS status;
    NdisAllocatePacketPoolEx(&status, &pool_, UINT(kBatch), 0, 0);
    if (status != NDIS_STATUS_SUCCESS) pool_ = nullptr;
    for (Slot& s : slots_) {
        if (pool_ != nullptr) NdisAllocatePacket(&status, &s.packet, pool_);
        if (s.packet == nullptr) continue;
        s.ethernet[12] = kEtherTypeIpv4[0];
        s.ethernet[13] = kEtherTypeIpv4[1];
        s.header.VirtualAddress = s.ethernet.data();
        s.header.Length = kEthernetHeaderSize;
    }
    stopFd_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

QueueAdapter::~QueueAdapter() {
    Stop();
    for (Slot& s : slots_) {
        if (s.packet != nullptr) NdisFreePacket(s.packet);
    }
    if (pool_ != nullptr) NdisFreePacketPool(pool_);
}

bool QueueAdapter::AttachUpper(std::string& error) {
    if (pool_ == nullptr || !stopFd_ ||
        std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return s.packet == nullptr; })) {
        error = "out of resources";
        return false;
    }
    const std::string name = AttachedAdapterName(Info().name);
    NDIS_HANDLE adapter = ndis::media::BindUpper(ndis::linux_media::Widen(name), this);
    if (adapter == nullptr) {
        error = "no virtual adapter " + name;
        return false;
    }
    upper_ = adapter;
    return true;
}

QueueAdapter::Slot* QueueAdapter::SlotOf(PNDIS_PACKET packet) {
    // Every frame the driver passes on shares the buffer chain of the frame it was given.
    const auto first = reinterpret_cast<std::uintptr_t>(&slots_.front().header);
    const auto at = reinterpret_cast<std::uintptr_t>(packet->Private.Head);
    if (at < first) return nullptr;
    const std::uintptr_t offset = at - first;
    if (offset % sizeof(Slot) != 0 || offset / sizeof(Slot) >= slots_.size()) return nullptr;
    return &slots_[offset / sizeof(Slot)];
}

std::size_t QueueAdapter::Pump() {
    const std::size_t count = queue_.Receive(queued_);
    if (count == 0) {
        if (!undelivered_.empty()) {
            decisions_ = undelivered_;
            SendVerdicts();
        }
        return 0;
    }
    PNDIS_PACKET outgoing[kBatch];
    PNDIS_PACKET incoming[kBatch];
    UINT sends = 0;
    UINT receives = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const QueuedPacket& q = queued_[i];
        Slot& s = slots_[i];
        s.passed = false;
        // Our own address stands on our side of the frame; the peer's is not known here.
        std::memset(s.ethernet.data(), 0, 2 * kAddressLength);
        std::memcpy(s.ethernet.data() + (q.outgoing ? kAddressLength : 0), Info().mac.data(),
                    kAddressLength);
        s.header.Next = nullptr;
        s.payload.Next = nullptr;
        s.payload.VirtualAddress = const_cast<std::uint8_t*>(q.data);
        s.payload.Length = UINT(q.length);
        PNDIS_PACKET p = s.packet;
        p->Private.Head = p->Private.Tail = nullptr;
        NdisChainBufferAtBack(p, &s.header);
        if (q.length != 0) NdisChainBufferAtBack(p, &s.payload);
        if (q.outgoing) {
            outgoing[sends++] = p;
        } else {
            NDIS_SET_PACKET_HEADER_SIZE(p, kEthernetHeaderSize);
            NDIS_SET_PACKET_STATUS(p, NDIS_STATUS_RESOURCES);
            incoming[receives++] = p;
        }
    }

    // With no binding to run them through (the driver is binding or unbinding) packets pass:
    // the same as while the daemon is away.
    const NDIS_HANDLE upper = upper_.load();
    if (sends != 0) {
        if (upper != nullptr) {
            ndis::media::UpperSendPackets(upper, outgoing, sends);
        } else {
            for (UINT i = 0; i < sends; ++i) SlotOf(outgoing[i])->passed = true;
        }
    }
    ndis::media::LowerEdge* edge = edge_.load();
    if (receives != 0) {
        if (edge != nullptr) {
            edge->IndicateReceivePacket(incoming, receives);
        } else {
            for (UINT i = 0; i < receives; ++i) SlotOf(incoming[i])->passed = true;
        }
    }

    // Verdicts that did not arrive go first: their packets are still queued, ahead of these,
    // and a covering accept must not reach them before their drops.
    decisions_ = undelivered_;
    std::uint64_t passed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const bool pass = slots_[i].passed;
        passed += pass ? 1 : 0;
        decisions_.push_back({queued_[i].id, pass ? Verdict::Accept : Verdict::Drop});
    }
    accepted_ += passed;
    dropped_ += count - passed;
    SendVerdicts();
    return count;
}

void QueueAdapter::SendVerdicts() {
    if (queue_.Send(PlanVerdicts(decisions_))) {
        undelivered_.clear();
        return;
    }
    // Kept until they arrive; the queue holds their packets meanwhile (and drops them if we
    // go away first), so there are never more than it holds.
    undelivered_.swap(decisions_);
}

bool QueueAdapter::Start(std::string& error) {
    if (!stopFd_) {
        error = "eventfd failed";
        return false;
    }
    reader_ = std::thread([this] { ReadLoop(); });
    return true;
}

void QueueAdapter::ReadLoop() {
    // No raised share: while the reader is behind, the queue holds packets and their senders
    // wait for room, so nothing is lost; a raised reader only takes the processor from the
    // programs it serves.
    ndis::linux_media::UseBatchScheduling();
    pollfd fds[2] = {{queue_.Fd(), POLLIN, 0}, {stopFd_.Get(), POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, undelivered_.empty() ? -1 : kResendDelayMs) < 0) continue;
        if ((fds[1].revents & POLLIN) != 0) break;
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0 && (fds[0].revents & POLLIN) == 0) {
            // An overrun reports an error once; reading clears it. A closed queue stays so.
            if ((fds[0].revents & POLLNVAL) != 0) fds[0].fd = -1;
        }
        while (Pump() == kBatch) {
        }
    }
    // Whatever was queued before the rules went away still gets the driver's verdict.
    while (Pump() != 0) {
    }
}

void QueueAdapter::StopReader() {
    if (!reader_.joinable()) return;
    const std::uint64_t one = 1;
    if (write(stopFd_.Get(), &one, sizeof one) != sizeof one) {
        // A full counter already wakes the reader.
    }
    reader_.join();
}

void QueueAdapter::Stop() {
    StopReader();
    NDIS_HANDLE adapter = upper_.exchange(nullptr);
    if (adapter != nullptr) ndis::media::UnbindUpper(adapter);
}

std::u16string QueueAdapter::UpperBindings() const {
    return ndis::linux_media::Widen(AttachedAdapterName(Info().name));
}

NDIS_STATUS QueueAdapter::Open(ndis::media::LowerEdge* edge) {
    edge_ = edge;
    return NDIS_STATUS_SUCCESS;
}

NDIS_STATUS QueueAdapter::Close() {
    // Nothing is indicated once the reader has stopped.
    StopReader();
    edge_ = nullptr;
    return NDIS_STATUS_SUCCESS;
}

NDIS_STATUS QueueAdapter::Send(PNDIS_PACKET packet) {
    // Passed down: the kernel sends the packet on. Nothing is copied or written here.
    if (Slot* s = SlotOf(packet); s != nullptr) s->passed = true;
    return NDIS_STATUS_SUCCESS;
}

void QueueAdapter::SendComplete(PNDIS_PACKET, NDIS_STATUS) {
    // Whether it went down was seen in Send; a completion alone means it did not.
}

INT QueueAdapter::ReceivePacket(PNDIS_PACKET packet) {
    // Indicated up: the kernel delivers the packet.
    if (Slot* s = SlotOf(packet); s != nullptr) s->passed = true;
    return 0;
}

NDIS_STATUS QueueAdapter::Receive(const ndis::media::LookaheadIndication&) {
    // Only whole packets are indicated, so the driver never falls back to look-ahead here.
    return NDIS_STATUS_NOT_ACCEPTED;
}

void QueueAdapter::ReceiveComplete(NDIS_MEDIUM) {}
void QueueAdapter::TransferDataComplete(PNDIS_PACKET, NDIS_STATUS, UINT) {}
void QueueAdapter::RequestComplete(PNDIS_REQUEST, NDIS_STATUS) {}
void QueueAdapter::Status(NDIS_STATUS, PVOID, UINT) {}
void QueueAdapter::StatusComplete() {}

void QueueAdapter::Unbind() {
    upper_ = nullptr;
}

}  // namespace ndis::nfqueue_media
