#include "fv_drv/ndis/linux/LinuxAdapter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace ndis::linux_media {
namespace {

constexpr UINT kEthernetHeaderSize = 14;

}  // namespace

std::size_t GatherFrame(PNDIS_PACKET packet, std::vector<std::uint8_t>& out) {
    PNDIS_BUFFER buffer = nullptr;
    UINT total = 0;
    NdisQueryPacket(packet, nullptr, nullptr, &buffer, &total);
    out.resize(total);
    std::size_t at = 0;
    for (; buffer != nullptr && at < total; NdisGetNextBuffer(buffer, &buffer)) {
        PVOID address = nullptr;
        UINT length = 0;
        NdisQueryBuffer(buffer, &address, &length);
        const std::size_t chunk = std::min<std::size_t>(length, total - at);
        std::memcpy(out.data() + at, address, chunk);
        at += chunk;
    }
    return at;
}

std::size_t FrameParts(PNDIS_PACKET packet, iovec* parts, std::size_t maxParts,
                       std::size_t& length) {
    PNDIS_BUFFER buffer = nullptr;
    UINT total = 0;
    NdisQueryPacket(packet, nullptr, nullptr, &buffer, &total);
    std::size_t used = 1;
    length = 0;
    for (; buffer != nullptr && length < total; NdisGetNextBuffer(buffer, &buffer)) {
        PVOID address = nullptr;
        UINT size = 0;
        NdisQueryBuffer(buffer, &address, &size);
        if (size == 0) continue;
        if (used == maxParts) return 0;
        const std::size_t chunk = std::min<std::size_t>(size, total - length);
        parts[used++] = {address, chunk};
        length += chunk;
    }
    return used;
}

OffloadHeader OffloadOf(PNDIS_PACKET packet) {
    PVOID info = nullptr;
    UINT size = 0;
    NDIS_GET_PACKET_MEDIA_SPECIFIC_INFO(packet, &info, &size);
    OffloadHeader header;
    if (info != nullptr && size == sizeof header) std::memcpy(&header, info, sizeof header);
    return header;
}

void AttachOffload(PNDIS_PACKET packet, OffloadHeader* header) {
    NDIS_SET_PACKET_MEDIA_SPECIFIC_INFO(packet, header, sizeof *header);
}

LinuxAdapter::LinuxAdapter(InterfaceInfo info, std::string upperName)
    : InterfaceAdapter(std::move(info)), upperName_(std::move(upperName)) {
    running_ = Info().running;
}

LinuxAdapter::~LinuxAdapter() {
    StopReader();
}

bool LinuxAdapter::Prepare(std::string& error) {
    stopFd_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stopFd_) {
        error = "eventfd failed";
        return false;
    }
    if (!PacketPort::CreateUnbound(port_, error)) return false;
    // The ring goes on before the socket is bound, so that no frame waits in the socket's own
    // queue ahead of it. Without a ring, frames are read one call each.
    std::string ringError;
    if (!ring_.Attach(port_, Info().mtu, ringError)) {
        // Frames are read one call each.
    }
    return port_.Bind(Info().index, error) && links_.Open(error) &&
           keepOff_.Apply(Info().name, error);
}

NDIS_STATUS LinuxAdapter::Open(ndis::media::LowerEdge* edge) {
    if (!port_.Open()) return NDIS_STATUS_FAILURE;
    edge_ = edge;
    std::uint64_t drained;
    while (read(stopFd_.Get(), &drained, sizeof drained) > 0) {
    }
    reader_ = std::thread([this] { ReadLoop(); });
    return NDIS_STATUS_SUCCESS;
}

NDIS_STATUS LinuxAdapter::Close() {
    // Nothing is indicated once the reader has stopped; nothing sent is left pending.
    StopReader();
    FlushSends();
    edge_ = nullptr;
    return NDIS_STATUS_SUCCESS;
}

void LinuxAdapter::StopReader() {
    if (!reader_.joinable()) return;
    const std::uint64_t one = 1;
    if (write(stopFd_.Get(), &one, sizeof one) != sizeof one) {
        // An eventfd write fails only when the counter is full, which already wakes the reader.
    }
    if (reader_.get_id() == std::this_thread::get_id()) {
        reader_.detach();
    } else {
        reader_.join();
    }
}

bool LinuxAdapter::Stage(Batch& batch, PNDIS_PACKET packet) {
    const std::size_t i = batch.count++;
    batch.packets[i] = packet;
    batch.statuses[i] = NDIS_STATUS_SUCCESS;
    batch.headers[i] = OffloadOf(packet);
    auto& parts = batch.parts[i];
    parts[0] = {&batch.headers[i], sizeof(OffloadHeader)};
    std::size_t length = 0;
    batch.used[i] = FrameParts(packet, parts.data(), parts.size(), length);
    if (batch.used[i] == 0) {
        // A long chain is written from one copy of its bytes.
        length = GatherFrame(packet, batch.copies[i]);
        parts[1] = {batch.copies[i].data(), length};
        batch.used[i] = 2;
    }
    return length > 0;
}

void LinuxAdapter::Write(Batch& batch) {
    std::array<mmsghdr, kSendBatch> messages{};
    for (std::size_t i = 0; i < batch.count; ++i) {
        messages[i].msg_hdr.msg_iov = batch.parts[i].data();
        messages[i].msg_hdr.msg_iovlen = batch.used[i];
    }
    std::size_t sent = 0;
    while (sent < batch.count) {
        const int n = sendmmsg(port_.Fd(), messages.data() + sent, unsigned(batch.count - sent), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            batch.statuses[sent++] = NDIS_STATUS_FAILURE;  // refused; the rest may still go
            continue;
        }
        sent += std::size_t(n);
    }
}

NDIS_STATUS LinuxAdapter::Send(PNDIS_PACKET packet) {
    std::unique_lock held(sendLock_);
    if (!batching_.load()) {
        single_.count = 0;
        Stage(single_, packet);
        Write(single_);
        return single_.statuses[0];
    }
    if (batch_.count == kSendBatch) {
        FlushAndComplete(held);
        held.lock();
    }
    Stage(batch_, packet);
    return NDIS_STATUS_PENDING;
}

void LinuxAdapter::FlushSends() {
    std::unique_lock held(sendLock_);
    if (batch_.count > 0) FlushAndComplete(held);
}

void LinuxAdapter::FlushAndComplete(std::unique_lock<std::mutex>& held) {
    Write(batch_);
    std::array<PNDIS_PACKET, kSendBatch> packets;
    std::array<NDIS_STATUS, kSendBatch> statuses;
    const std::size_t count = batch_.count;
    std::copy_n(batch_.packets.begin(), count, packets.begin());
    std::copy_n(batch_.statuses.begin(), count, statuses.begin());
    batch_.count = 0;
    held.unlock();
    // The frames are in the kernel's hands: their buffers belong to the senders again.
    ndis::media::LowerEdge* edge = edge_.load();
    if (edge == nullptr) return;
    for (std::size_t i = 0; i < count; ++i) edge->SendComplete(packets[i], statuses[i]);
}

void LinuxAdapter::ReadLoop() {
    RaiseForwardingPriority();
    NDIS_HANDLE pool = nullptr;
    NDIS_STATUS status;
    NdisAllocatePacketPoolEx(&status, &pool, 1, 0, 0);
    PNDIS_PACKET packet = nullptr;
    if (status == NDIS_STATUS_SUCCESS) NdisAllocatePacket(&status, &packet, pool);
    if (status != NDIS_STATUS_SUCCESS) {
        if (pool != nullptr) NdisFreePacketPool(pool);
        return;
    }
    {
        std::lock_guard guard(receiveLock_);
        receivePacket_ = packet;
        receiveFrame_.resize(ring_.Attached() ? 0 : kMaxFrameLength);
    }

    pollfd fds[3] = {
        {port_.Fd(), POLLIN, 0}, {links_.Fd(), POLLIN, 0}, {stopFd_.Get(), POLLIN, 0}};
    for (;;) {
        if (poll(fds, 3, -1) < 0) continue;
        if ((fds[2].revents & POLLIN) != 0) break;
        ndis::media::LowerEdge* edge = edge_.load();
        // A carrier change, or the interface gone altogether, becomes a media indication.
        auto indicateLink = [&] {
            InterfaceInfo fresh;
            std::string error;
            const bool present =
                QueryInterface(Info().name, fresh, error) && fresh.index == Info().index;
            const bool running = present && fresh.running;
            if (running != running_.exchange(running)) {
                edge->IndicateStatus(
                    running ? NDIS_STATUS_MEDIA_CONNECT : NDIS_STATUS_MEDIA_DISCONNECT, nullptr, 0);
                edge->IndicateStatusComplete();
            }
            return present;
        };
        if ((fds[1].revents & POLLIN) != 0 && links_.Drain(Info().index)) indicateLink();
        const short portEvents = fds[0].revents;
        if ((portEvents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            int pending = 0;
            socklen_t length = sizeof pending;
            getsockopt(port_.Fd(), SOL_SOCKET, SO_ERROR, &pending, &length);
            // Nothing more arrives from an interface that was removed: stop watching it rather
            // than wake for its error forever.
            if (!indicateLink()) fds[0].fd = -1;
        }
        if ((portEvents & POLLIN) == 0) continue;
        {
            std::lock_guard guard(receiveLock_);
            ReadWaiting(edge);
        }
        if (indicated_) indicated_();
    }
    {
        std::lock_guard guard(receiveLock_);
        receivePacket_ = nullptr;
    }
    NdisFreePacket(packet);
    NdisFreePacketPool(pool);
}

void LinuxAdapter::PollReceive() {
    std::unique_lock guard(receiveLock_, std::try_to_lock);
    if (!guard.owns_lock() || receivePacket_ == nullptr) return;
    if (ndis::media::LowerEdge* edge = edge_.load(); edge != nullptr) ReadWaiting(edge);
}

namespace {

// One full-packet indication. The driver copies what it passes up, so the one descriptor and
// buffer serve every frame.
void Indicate(ndis::media::LowerEdge* edge, PNDIS_PACKET packet, NDIS_BUFFER& buffer,
              std::uint8_t* data, std::size_t length, OffloadHeader& offload) {
    buffer.VirtualAddress = data;
    buffer.Length = UINT(length);
    buffer.Next = nullptr;
    packet->Private.Head = packet->Private.Tail = nullptr;
    NdisChainBufferAtBack(packet, &buffer);
    NDIS_SET_PACKET_HEADER_SIZE(packet, kEthernetHeaderSize);
    AttachOffload(packet, &offload);
    NDIS_SET_PACKET_STATUS(packet, NDIS_STATUS_RESOURCES);
    edge->IndicateReceivePacket(&packet, 1);
}

}  // namespace

void LinuxAdapter::ReadWaiting(ndis::media::LowerEdge* edge) {
    if (ring_.Attached()) {
        // Everything the ring holds, in order, each frame indicated where the kernel put it.
        ReceiveRing::Frame frame;
        while (ring_.Next(frame)) {
            if (frame.length > 0) {
                Indicate(edge, receivePacket_, receiveBuffer_, frame.data, frame.length,
                         frame.header);
            }
            ring_.Release();
        }
        return;
    }
    OffloadHeader offload;
    for (;;) {
        const long n = port_.Receive(offload, receiveFrame_.data(), receiveFrame_.size());
        if (n <= 0) break;
        Indicate(edge, receivePacket_, receiveBuffer_, receiveFrame_.data(), std::size_t(n),
                 offload);
    }
}

}  // namespace ndis::linux_media
