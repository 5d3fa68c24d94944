// A packet socket's receive side as a ring shared with the kernel: frames are read where the
// kernel put them, without a system call each, and the reader sleeps only when the ring is
// empty. Frames too long for a slot still arrive whole, through the socket's queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fv_drv/ndis/linux/LinuxLink.h"

namespace ndis::linux_media {

class ReceiveRing {
public:
    ReceiveRing() = default;
    ~ReceiveRing();
    ReceiveRing(const ReceiveRing&) = delete;
    ReceiveRing& operator=(const ReceiveRing&) = delete;

    // Maps the ring on `port`'s socket with slots sized for frames of an `mtu`-byte payload.
    // The port must outlive the ring.
    bool Attach(PacketPort& port, int mtu, std::string& error);
    bool Attached() const { return map_ != nullptr; }

    struct Frame {
        OffloadHeader header;
        std::uint8_t* data = nullptr;
        std::size_t length = 0;  // 0: a frame that could not be kept whole; skip it
    };
    // The oldest frame not yet taken, as it was on the wire (a VLAN tag the kernel took out is
    // put back). False when none is waiting. Its bytes stay valid until Release.
    bool Next(Frame& frame);
    // Gives the slot of the frame last taken back to the kernel.
    void Release();

private:
    std::uint8_t* Slot(std::size_t index) const;

    PacketPort* port_ = nullptr;
    std::uint8_t* map_ = nullptr;
    std::size_t mapLength_ = 0;
    std::size_t frameSize_ = 0;
    std::size_t frameCount_ = 0;
    std::size_t framesPerBlock_ = 1;
    std::size_t blockSize_ = 0;
    std::size_t cursor_ = 0;
    bool taken_ = false;
    std::vector<std::uint8_t> scratch_;  // frames that came through the socket's queue
};

}  // namespace ndis::linux_media
