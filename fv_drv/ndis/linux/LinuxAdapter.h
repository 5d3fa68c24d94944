// A real interface as a lower adapter: frames arrive through a packet socket and are indicated
// as full packets; sends are written to the same socket; queries are answered from the kernel;
// carrier changes become media connect and disconnect indications. One thread reads.
#pragma once

#include <sys/uio.h>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fv_drv/ndis/linux/InterfaceAdapter.h"
#include "fv_drv/ndis/linux/LinuxLink.h"
#include "fv_drv/ndis/linux/ReceiveRing.h"
#include "fv_platform/UniqueFd.h"

namespace ndis::linux_media {

class LinuxAdapter final : public InterfaceAdapter {
public:
    // `upperName` becomes the UpperBindings value: the TAP device the stack above uses.
    LinuxAdapter(InterfaceInfo info, std::string upperName);
    ~LinuxAdapter() override;
    LinuxAdapter(const LinuxAdapter&) = delete;
    LinuxAdapter& operator=(const LinuxAdapter&) = delete;

    // Opens the packet socket and keeps the kernel off the interface.
    bool Prepare(std::string& error);
    // Where the interface's settings from before Prepare are kept (see KernelKeepOff); call
    // before Prepare.
    void KeepSettingsIn(int folder, std::string name) { keepOff_.KeepRecord(folder, std::move(name)); }
    // With batching on, sends pend and are written by FlushSends in one call, straight from
    // the senders' buffers, and completed after it; the one sender above calls it after each
    // batch it hands down.
    void SetBatching(bool on) { batching_ = on; }
    void FlushSends();
    // Indicates what the receive ring already holds, unless the reader is at it. A sender calls
    // it after its writes, which often bring the answer in at once (a ping's reply, an
    // acknowledgement): it goes up without waiting for the reader to wake.
    void PollReceive();
    // Called by the reader after each run of indications (set before Open).
    void OnIndicated(std::function<void()> callback) { indicated_ = std::move(callback); }

    // ndis::media::LowerAdapter
    std::u16string UpperBindings() const override { return Widen(upperName_); }
    NDIS_STATUS Open(ndis::media::LowerEdge* edge) override;
    NDIS_STATUS Close() override;
    NDIS_STATUS Send(PNDIS_PACKET packet) override;

private:
    // Frames gathered for one write: each refers to its packet's buffers until it completes.
    static constexpr std::size_t kSendBatch = 64;
    static constexpr std::size_t kMaxParts = 8;  // header and buffers; longer chains are copied
    struct Batch {
        std::array<PNDIS_PACKET, kSendBatch> packets{};
        std::array<NDIS_STATUS, kSendBatch> statuses{};
        std::array<OffloadHeader, kSendBatch> headers{};
        std::array<std::array<iovec, kMaxParts>, kSendBatch> parts{};
        std::array<std::size_t, kSendBatch> used{};  // parts in use per frame
        std::array<std::vector<std::uint8_t>, kSendBatch> copies;
        std::size_t count = 0;
    };

    void ReadLoop();
    // Indicates everything waiting; call with receiveLock_ held.
    void ReadWaiting(ndis::media::LowerEdge* edge);
    void StopReader();
    // Adds the packet's frame to `batch`; false when it has no bytes.
    static bool Stage(Batch& batch, PNDIS_PACKET packet);
    // Writes what the batch holds and sets each frame's status; the batch stays filled.
    void Write(Batch& batch);
    // Writes the batch and completes its packets; call without sendLock_.
    void FlushAndComplete(std::unique_lock<std::mutex>& held);

    std::string upperName_;
    PacketPort port_;
    ReceiveRing ring_;
    KernelKeepOff keepOff_;
    LinkWatcher links_;
    fv::UniqueFd stopFd_;
    std::thread reader_;
    std::atomic<ndis::media::LowerEdge*> edge_{nullptr};

    // Frames are indicated by one thread at a time, in order, through one descriptor.
    std::mutex receiveLock_;
    PNDIS_PACKET receivePacket_ = nullptr;  // while the reader runs
    NDIS_BUFFER receiveBuffer_{};
    std::vector<std::uint8_t> receiveFrame_;  // without a ring
    std::function<void()> indicated_;

    std::mutex sendLock_;  // sends from several threads share the batch
    Batch batch_;
    Batch single_;  // an unbatched send, under sendLock_
    std::atomic<bool> batching_{false};
    std::atomic<bool> running_{false};  // carrier, as last indicated
};

// The bytes of a packet's buffer chain, copied into `out`; returns the frame length.
std::size_t GatherFrame(PNDIS_PACKET packet, std::vector<std::uint8_t>& out);

// The packet's frame as the parts of its buffer chain, written from parts[1] on (parts[0] is
// left for the caller), with the frame's length; the number of parts used including parts[0],
// or 0 when the chain needs more than `maxParts`.
std::size_t FrameParts(PNDIS_PACKET packet, iovec* parts, std::size_t maxParts,
                       std::size_t& length);

// The offload header a packet carries as its media-specific information, or none.
OffloadHeader OffloadOf(PNDIS_PACKET packet);
void AttachOffload(PNDIS_PACKET packet, OffloadHeader* header);

}  // namespace ndis::linux_media
