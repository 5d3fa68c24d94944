// Where the in-place medium takes the host's packets from and sends their verdicts to: the
// kernel's netfilter queue, or a fake one in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "fv_drv/ndis/nfqueue/Verdicts.h"

namespace ndis::nfqueue_media {

struct QueuedPacket {
    std::uint32_t id = 0;
    bool outgoing = false;              // sent out of the interface, else received on it
    const std::uint8_t* data = nullptr; // the IPv4 packet's leading bytes
    std::size_t length = 0;
};

class PacketQueue {
public:
    virtual ~PacketQueue() = default;
    // Readable (poll) while packets wait.
    virtual int Fd() const = 0;
    // Fills `out` with packets that wait, without blocking; their bytes stay valid until the
    // next call. Returns how many.
    virtual std::size_t Receive(std::span<QueuedPacket> out) = 0;
    // Sends the verdict messages in order, in one go where possible. False when they may not
    // have arrived.
    virtual bool Send(std::span<const VerdictMessage> messages) = 0;
};

}  // namespace ndis::nfqueue_media
