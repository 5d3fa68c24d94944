// The in-place medium: an interface keeps its configuration and the kernel keeps carrying its
// traffic, while each IPv4 packet it sends or receives waits in a packet queue for the driver.
// The adapter is both ends of the driver's binding: a packet the host sends goes in at the
// virtual adapter's send path, a packet it receives comes up the binding's receive path, and
// what the driver does with it is the packet's verdict: passed down or indicated up, the
// kernel lets it go on; completed without passing down, or not indicated, it is dropped.
#pragma once

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fv_drv/ndis/linux/InterfaceAdapter.h"
#include "fv_drv/ndis/ndis_media.h"
#include "fv_drv/ndis/nfqueue/PacketQueue.h"
#include "fv_platform/UniqueFd.h"

namespace ndis::nfqueue_media {

// The virtual adapter's name for an attached interface: the interface's name behind a marker
// that no TAP of the intermediate medium uses.
inline constexpr const char* kAttachedMarker = "fv@";
std::string AttachedAdapterName(const std::string& interfaceName);

class QueueAdapter final : public ndis::linux_media::InterfaceAdapter,
                           public ndis::media::UpperProtocol {
public:
    // Packets read from the queue at once, and so the most that one verdict message covers.
    static constexpr std::size_t kBatch = 64;

    QueueAdapter(ndis::linux_media::InterfaceInfo info, PacketQueue& queue);
    ~QueueAdapter();

    // Binds above the virtual adapter that the driver made over this one.
    bool AttachUpper(std::string& error);
    // Reads what waits in the queue, runs it through the driver and sends the verdicts.
    // Returns how many packets were decided.
    std::size_t Pump();
    // A thread pumps whenever the queue is readable.
    bool Start(std::string& error);
    // Decides what is still queued, ends the thread and leaves the virtual adapter.
    void Stop();

    std::uint64_t Accepted() const { return accepted_.load(); }
    std::uint64_t Dropped() const { return dropped_.load(); }

    // ndis::media::LowerAdapter
    std::u16string UpperBindings() const override;
    NDIS_STATUS Open(ndis::media::LowerEdge* edge) override;
    NDIS_STATUS Close() override;
    NDIS_STATUS Send(PNDIS_PACKET packet) override;

    // ndis::media::UpperProtocol
    NDIS_UPPER_PROTOCOL_OVERRIDES;

private:
    // One queued packet as a frame: a made-up Ethernet header, then the packet's own bytes.
    // Standard layout with `header` first, so that a frame's first buffer finds its slot.
    struct Slot {
        NDIS_BUFFER header;
        NDIS_BUFFER payload;
        std::array<std::uint8_t, 14> ethernet{};
        PNDIS_PACKET packet = nullptr;
        bool passed = false;
    };
    Slot* SlotOf(PNDIS_PACKET packet);
    void ReadLoop();
    void StopReader();
    // Sends the verdicts of decisions_, or keeps them for the next try.
    void SendVerdicts();

    PacketQueue& queue_;
    NDIS_HANDLE pool_ = nullptr;
    std::vector<Slot> slots_;
    std::array<QueuedPacket, kBatch> queued_{};
    std::vector<Decision> decisions_;
    std::vector<Decision> undelivered_;  // decided, but the send failed
    std::atomic<ndis::media::LowerEdge*> edge_{nullptr};
    std::atomic<NDIS_HANDLE> upper_{nullptr};
    fv::UniqueFd stopFd_;
    std::thread reader_;
    std::atomic<std::uint64_t> accepted_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace ndis::nfqueue_media
