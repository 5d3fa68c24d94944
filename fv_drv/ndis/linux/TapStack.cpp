#include "fv_drv/ndis/linux/TapStack.h"

#include <linux/if_tun.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "fv_drv/ndis/linux/LinuxAdapter.h"

namespace ndis::linux_media {
namespace {

constexpr UINT kPoolDescriptors = 64;
constexpr UINT kPoolLimit = 65535;
constexpr UINT kSendBatch = 64;

}  // namespace

struct TapStack::Slot {
    std::vector<std::uint8_t> frame = std::vector<std::uint8_t>(kMaxFrameLength);
    OffloadHeader offload;
    NDIS_BUFFER buffer;
    PNDIS_PACKET packet = nullptr;
};

TapStack::TapStack() {
    NDIS_STATUS status;
    NdisAllocatePacketPoolEx(&status, &pool_, kPoolDescriptors, kPoolLimit - kPoolDescriptors, 0);
    stopFd_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

TapStack::~TapStack() {
    Stop();
    for (auto& s : slots_) {
        if (s->packet != nullptr) NdisFreePacket(s->packet);
    }
    if (pool_ != nullptr) NdisFreePacketPool(pool_);
}

bool TapStack::Start(const std::string& name, const MacAddress& mac, int mtu, bool carrier,
                     std::string& error) {
    if (pool_ == nullptr || !stopFd_) {
        error = "out of resources";
        return false;
    }
    {
        std::lock_guard guard(readLock_);  // the receive side may already poll
        if (!TapPort::Create(name, mac, mtu, tap_, error)) return false;
    }
    SetCarrier(carrier);
    NDIS_HANDLE adapter = ndis::media::BindUpper(Widen(name), this);
    if (adapter == nullptr) {
        error = "no virtual adapter " + name;
        std::lock_guard guard(readLock_);
        tap_.Close();
        return false;
    }
    adapter_ = adapter;
    reader_ = std::thread([this] { ReadLoop(); });
    return true;
}

void TapStack::Stop() {
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        if (write(stopFd_.Get(), &one, sizeof one) != sizeof one) {
            // A full counter already wakes the reader.
        }
        reader_.join();
    }
    NDIS_HANDLE adapter = adapter_.exchange(nullptr);
    if (adapter != nullptr) ndis::media::UnbindUpper(adapter);
    // An indication that began before the unbind may still be writing, and the receive side
    // may still be polling for answers.
    std::scoped_lock guard(readLock_, writeLock_);
    tap_.Close();
}

TapStack::Slot* TapStack::TakeSlot() {
    std::lock_guard guard(slotLock_);
    if (!free_.empty()) {
        Slot* s = free_.back();
        free_.pop_back();
        return s;
    }
    auto slot = std::make_unique<Slot>();
    NDIS_STATUS status;
    NdisAllocatePacket(&status, &slot->packet, pool_);
    if (status != NDIS_STATUS_SUCCESS) return nullptr;
    Slot* raw = slot.get();
    slots_.push_back(std::move(slot));
    return raw;
}

void TapStack::ReadLoop() {
    RaiseForwardingPriority();
    pollfd fds[2] = {{tap_.Fd(), POLLIN, 0}, {stopFd_.Get(), POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) continue;
        if ((fds[1].revents & POLLIN) != 0) return;
        // A TAP deleted from outside reports an error for good: stop watching it.
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            fds[0].fd = -1;
            continue;
        }
        if ((fds[0].revents & POLLIN) == 0) continue;
        {
            std::lock_guard guard(readLock_);
            SendWaiting();
        }
        if (drained_) drained_();
    }
}

void TapStack::PollSend() {
    std::unique_lock guard(readLock_, std::try_to_lock);
    if (guard.owns_lock() && tap_.Open()) SendWaiting();
}

void TapStack::SendWaiting() {
    // What is waiting goes down in batches: one send call into the driver for each.
    PNDIS_PACKET batch[kSendBatch];
    for (bool more = true; more;) {
        UINT count = 0;
        while (count < kSendBatch) {
            Slot* slot = TakeSlot();
            if (slot == nullptr) break;
            const long n = tap_.Receive(slot->offload, slot->frame.data(), slot->frame.size());
            if (n <= 0) {
                std::lock_guard guard(slotLock_);
                free_.push_back(slot);
                break;
            }
            slot->buffer.VirtualAddress = slot->frame.data();
            slot->buffer.Length = UINT(n);
            slot->buffer.Next = nullptr;
            slot->packet->Private.Head = slot->packet->Private.Tail = nullptr;
            NdisChainBufferAtBack(slot->packet, &slot->buffer);
            AttachOffload(slot->packet, &slot->offload);
            // The slot travels in the packet's reserved area to find its way back.
            std::memcpy(slot->packet->ProtocolReserved, &slot, sizeof slot);
            batch[count++] = slot->packet;
        }
        more = count == kSendBatch;
        if (count == 0) break;
        NDIS_HANDLE adapter = adapter_.load();
        if (adapter == nullptr) {
            for (UINT i = 0; i < count; ++i) SendComplete(batch[i], NDIS_STATUS_FAILURE);
            continue;
        }
        sent_ += count;
        ndis::media::UpperSendPackets(adapter, batch, count);
        if (batchSent_) batchSent_();
    }
}

void TapStack::SendComplete(PNDIS_PACKET packet, NDIS_STATUS) {
    Slot* slot;
    std::memcpy(&slot, packet->ProtocolReserved, sizeof slot);
    std::lock_guard guard(slotLock_);
    free_.push_back(slot);
}

INT TapStack::ReceivePacket(PNDIS_PACKET packet) {
    // Written straight from the packet's buffers: the kernel copies them during the write.
    constexpr std::size_t kMaxParts = 8;
    OffloadHeader offload = OffloadOf(packet);
    iovec parts[kMaxParts];
    parts[0] = {&offload, sizeof offload};
    std::size_t length = 0;
    std::lock_guard guard(writeLock_);
    std::size_t used = FrameParts(packet, parts, kMaxParts, length);
    if (used == 0) {
        length = GatherFrame(packet, writeBuffer_);
        parts[1] = {writeBuffer_.data(), length};
        used = 2;
    }
    if (tap_.Send(parts, used)) ++received_;
    return 0;  // copied: never held
}

NDIS_STATUS TapStack::Receive(const ndis::media::LookaheadIndication& indication) {
    // Only whole frames can be handed to the kernel; a partial look-ahead is dropped.
    if (indication.HeaderSize + indication.LookaheadSize <
        indication.HeaderSize + indication.PacketSize) {
        return NDIS_STATUS_NOT_ACCEPTED;
    }
    std::lock_guard guard(writeLock_);
    writeBuffer_.assign(indication.Header, indication.Header + indication.HeaderSize);
    writeBuffer_.insert(writeBuffer_.end(), indication.Lookahead,
                        indication.Lookahead + indication.PacketSize);
    if (tap_.Send(writeBuffer_.data(), writeBuffer_.size())) ++received_;
    return NDIS_STATUS_SUCCESS;
}

void TapStack::ReceiveComplete(NDIS_MEDIUM) {}
void TapStack::TransferDataComplete(PNDIS_PACKET, NDIS_STATUS, UINT) {}
void TapStack::RequestComplete(PNDIS_REQUEST, NDIS_STATUS) {}

void TapStack::Status(NDIS_STATUS status, PVOID, UINT) {
    if (status == NDIS_STATUS_MEDIA_CONNECT) SetCarrier(true);
    if (status == NDIS_STATUS_MEDIA_DISCONNECT) SetCarrier(false);
}

void TapStack::StatusComplete() {}

void TapStack::Unbind() {
    adapter_ = nullptr;
}

void TapStack::SetCarrier(bool on) {
    int value = on ? 1 : 0;
    std::lock_guard guard(writeLock_);
    if (tap_.Open()) ioctl(tap_.Fd(), TUNSETCARRIER, &value);
}

}  // namespace ndis::linux_media
