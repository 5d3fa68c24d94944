#include "fv_drv/ndis/linux/ReceiveRing.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace ndis::linux_media {
namespace {

constexpr std::size_t kRingBytes = std::size_t{4} << 20;
constexpr std::size_t kBlockBytes = std::size_t{64} << 10;
constexpr std::size_t kSlotAlignment = TPACKET_ALIGNMENT;
// Room in a slot before the frame: the slot header, the address and the offload header.
constexpr std::size_t kSlotHeadroom = 128;
// Ethernet header and an 802.1Q tag left in the frame.
constexpr std::size_t kLinkHeaderRoom = 14 + kVlanTagLength;
constexpr std::size_t kMinSlotBytes = 2048;
constexpr std::size_t kAddressesLength = 12;

std::size_t RoundUp(std::size_t value, std::size_t unit) {
    return (value + unit - 1) / unit * unit;
}

std::uint32_t LoadStatus(tpacket2_hdr* slot) {
    return std::atomic_ref<std::uint32_t>(slot->tp_status).load(std::memory_order_acquire);
}

}  // namespace

ReceiveRing::~ReceiveRing() {
    if (map_ != nullptr) munmap(map_, mapLength_);
}

bool ReceiveRing::Attach(PacketPort& port, int mtu, std::string& error) {
    const int fd = port.Fd();
    const int version = TPACKET_V2;
    if (setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0) {
        error = std::string("ring version: ") + std::strerror(errno);
        return false;
    }
    // A frame longer than its slot is also queued on the socket, to be read whole from there.
    const int copyLongFrames = 1;
    if (setsockopt(fd, SOL_PACKET, PACKET_COPY_THRESH, &copyLongFrames, sizeof copyLongFrames) !=
        0) {
        error = std::string("ring copy threshold: ") + std::strerror(errno);
        return false;
    }
    const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    frameSize_ = RoundUp(std::max(kMinSlotBytes, kSlotHeadroom + kLinkHeaderRoom +
                                                     std::size_t(std::max(mtu, 0))),
                         kSlotAlignment);
    const std::size_t blockSize = RoundUp(std::max(kBlockBytes, frameSize_), page);
    const std::size_t blocks = std::max<std::size_t>(1, kRingBytes / blockSize);
    tpacket_req request{};
    request.tp_block_size = unsigned(blockSize);
    request.tp_block_nr = unsigned(blocks);
    request.tp_frame_size = unsigned(frameSize_);
    request.tp_frame_nr = unsigned(blocks * (blockSize / frameSize_));
    if (setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0) {
        error = std::string("receive ring: ") + std::strerror(errno);
        return false;
    }
    mapLength_ = blockSize * blocks;
    void* map = mmap(nullptr, mapLength_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        error = std::string("map receive ring: ") + std::strerror(errno);
        tpacket_req none{};
        setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &none, sizeof none);
        return false;
    }
    map_ = static_cast<std::uint8_t*>(map);
    port_ = &port;
    // Frames do not straddle blocks: each block holds whole slots, the rest of it unused.
    frameCount_ = request.tp_frame_nr;
    framesPerBlock_ = blockSize / frameSize_;
    blockSize_ = blockSize;
    scratch_.resize(kMaxFrameLength);
    return true;
}

std::uint8_t* ReceiveRing::Slot(std::size_t index) const {
    return map_ + (index / framesPerBlock_) * blockSize_ + (index % framesPerBlock_) * frameSize_;
}

bool ReceiveRing::Next(Frame& frame) {
    if (map_ == nullptr) return false;
    if (taken_) Release();
    auto* slot = reinterpret_cast<tpacket2_hdr*>(Slot(cursor_));
    const std::uint32_t status = LoadStatus(slot);
    if ((status & TP_STATUS_USER) == 0) return false;
    taken_ = true;
    frame = {};
    if ((status & TP_STATUS_COPY) != 0) {
        // Too long for its slot: the whole frame waits on the socket's queue, in ring order.
        const long n = port_->Receive(frame.header, scratch_.data(), scratch_.size());
        if (n > 0) {
            frame.data = scratch_.data();
            frame.length = std::size_t(n);
        }
        return true;
    }
    // Cut short without a whole copy (the socket's queue was full): not passed on in part.
    if (slot->tp_snaplen < slot->tp_len || slot->tp_mac < sizeof(OffloadHeader) ||
        std::size_t(slot->tp_mac) + slot->tp_snaplen > frameSize_) {
        return true;
    }
    std::uint8_t* const base = reinterpret_cast<std::uint8_t*>(slot);
    std::memcpy(&frame.header, base + slot->tp_mac - sizeof(OffloadHeader), sizeof frame.header);
    frame.data = base + slot->tp_mac;
    frame.length = slot->tp_snaplen;
    if ((status & TP_STATUS_VLAN_VALID) != 0 && frame.length >= kAddressesLength) {
        const std::uint16_t protocol =
            (status & TP_STATUS_VLAN_TPID_VALID) != 0 ? slot->tp_vlan_tpid : kVlanTagProtocol;
        if (slot->tp_mac >= TPACKET_ALIGN(sizeof(tpacket2_hdr)) + kVlanTagLength) {
            // The addresses move into the room before the frame (the offload header there has
            // been read), and the tag goes between them and the rest.
            frame.data -= kVlanTagLength;
            std::memmove(frame.data, frame.data + kVlanTagLength, kAddressesLength);
            const std::uint16_t tag[2] = {htons(protocol), htons(slot->tp_vlan_tci)};
            std::memcpy(frame.data + kAddressesLength, tag, sizeof tag);
            frame.length += kVlanTagLength;
            ShiftOffloadForTag(frame.header);
        } else {
            std::memcpy(scratch_.data(), frame.data, frame.length);
            frame.data = scratch_.data();
            frame.length = InsertVlanTag(protocol, slot->tp_vlan_tci, frame.header,
                                         frame.data, frame.length);
        }
    }
    return true;
}

void ReceiveRing::Release() {
    if (!taken_) return;
    taken_ = false;
    auto* slot = reinterpret_cast<tpacket2_hdr*>(Slot(cursor_));
    std::atomic_ref<std::uint32_t>(slot->tp_status).store(TP_STATUS_KERNEL,
                                                          std::memory_order_release);
    cursor_ = (cursor_ + 1) % frameCount_;
}

}  // namespace ndis::linux_media
