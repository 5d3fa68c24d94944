// A real interface as a lower adapter: frames arrive through a packet socket and are indicated
// as full packets; sends are written to the same socket; queries are answered from the kernel;
// carrier changes become media connect and disconnect indications. One thread reads.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fv_drv/ndis/linux/LinuxLink.h"
#include "fv_platform/UniqueFd.h"
#include "fv_drv/ndis/ndis_media.h"

namespace ndis::linux_media {

class LinuxAdapter final : public ndis::media::LowerAdapter {
public:
    // `upperName` becomes the UpperBindings value: the TAP device the stack above uses.
    LinuxAdapter(InterfaceInfo info, std::string upperName);
    ~LinuxAdapter() override;
    LinuxAdapter(const LinuxAdapter&) = delete;
    LinuxAdapter& operator=(const LinuxAdapter&) = delete;

    // Opens the packet socket and keeps the kernel off the interface.
    bool Prepare(std::string& error);
    // With batching on, sends are gathered and written by FlushSends in one call; the one
    // sender above calls it after each batch it hands down.
    void SetBatching(bool on) { batching_ = on; }
    void FlushSends();
    const InterfaceInfo& Info() const { return info_; }

    // ndis::media::LowerAdapter
    std::u16string Name() const override;
    NDIS_MEDIUM Medium() const override { return NdisMedium802_3; }
    std::u16string UpperBindings() const override;
    NDIS_STATUS Open(ndis::media::LowerEdge* edge) override;
    NDIS_STATUS Close() override;
    NDIS_STATUS Send(PNDIS_PACKET packet) override;
    NDIS_STATUS Request(PNDIS_REQUEST request) override;
    NDIS_STATUS TransferData(NDIS_HANDLE macReceiveContext, UINT byteOffset, UINT bytesToTransfer,
                             PNDIS_PACKET packet, PUINT bytesTransferred) override;
    void ReturnPacket(PNDIS_PACKET packet) override;

private:
    void ReadLoop();
    void StopReader();
    NDIS_STATUS Answer(PNDIS_REQUEST request);

    InterfaceInfo info_;
    std::string upperName_;
    PacketPort port_;
    KernelKeepOff keepOff_;
    LinkWatcher links_;
    fv::UniqueFd stopFd_;
    std::thread reader_;
    std::atomic<ndis::media::LowerEdge*> edge_{nullptr};
    void FlushLocked();

    std::mutex sendLock_;  // sends from several threads share the batch
    std::vector<PacketPort::OutFrame> batch_;
    std::size_t batched_ = 0;
    std::atomic<bool> batching_{false};
    std::atomic<bool> running_{false};  // carrier, as last indicated
};

// The bytes of a packet's buffer chain, copied into `out`; returns the frame length.
std::size_t GatherFrame(PNDIS_PACKET packet, std::vector<std::uint8_t>& out);

// The offload header a packet carries as its media-specific information, or none.
OffloadHeader OffloadOf(PNDIS_PACKET packet);
void AttachOffload(PNDIS_PACKET packet, OffloadHeader* header);

std::u16string Widen(const std::string& ascii);

}  // namespace ndis::linux_media
