// The kernel's netfilter packet queue, over netlink: packets are read many to a system call,
// copied only as far as their headers, large segments unsplit; verdicts go back many to a
// message. When the queue overflows the kernel drops what does not fit.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fv_drv/ndis/nfqueue/PacketQueue.h"

struct mnl_socket;

namespace ndis::nfqueue_media {

// Queue numbers are shared by everything in a network namespace: we take the first free one
// from here on.
inline constexpr std::uint16_t kFirstQueueNumber = 0x4656;
inline constexpr unsigned kQueueNumbersTried = 256;

class NetfilterQueue final : public PacketQueue {
public:
    NetfilterQueue() = default;
    ~NetfilterQueue() override;
    NetfilterQueue(const NetfilterQueue&) = delete;
    NetfilterQueue& operator=(const NetfilterQueue&) = delete;

    // Binds the first free queue number from `first`. False with `error` set.
    bool Open(std::uint16_t first, std::string& error);
    std::uint16_t Number() const { return number_; }
    // Stops reading and writing; packets still queued are dropped by the kernel.
    void Close();

    int Fd() const override;
    std::size_t Receive(std::span<QueuedPacket> out) override;
    bool Send(std::span<const VerdictMessage> messages) override;

private:
    // Sends one configuration message and waits for its acknowledgement: 0 or an errno.
    int Configure(std::uint16_t number, bool bind);

    mnl_socket* socket_ = nullptr;
    std::uint16_t number_ = 0;
    std::uint32_t sequence_ = 0;
    std::vector<std::vector<std::uint8_t>> buffers_;
    std::vector<mmsghdr> headers_;
    std::vector<iovec> vectors_;
    std::vector<std::uint8_t> verdicts_;
};

}  // namespace ndis::nfqueue_media
