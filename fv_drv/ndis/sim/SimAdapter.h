// A simulated lower adapter: it records what is sent to it, answers the queries the program asks,
// completes at once or when told, and indicates the frames it is given.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fv_drv/ndis/ndis_media.h"

namespace ndis::sim {

using Frame = std::vector<std::uint8_t>;

// Immediate: the call returns the final status. Deferred: it pends until the test completes it
// (opens and closes complete from a helper thread, since the binding waits for them).
enum class Completion { Immediate, Deferred };

struct AdapterConfig {
    std::u16string Name = u"\\Device\\sim0";
    NDIS_MEDIUM Medium = NdisMedium802_3;
    std::array<std::uint8_t, 6> Address = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x01};
    std::string VendorDescription = "Simulated Ethernet Adapter";
    std::u16string UpperBindings = u"\\Device\\fv-sim0";
    ULONG MacOptions = NDIS_MAC_OPTION_COPY_LOOKAHEAD_DATA | NDIS_MAC_OPTION_TRANSFERS_NOT_PEND |
                       NDIS_MAC_OPTION_NO_LOOPBACK;
    // Wake-up states the adapter claims; the virtual adapter reports none.
    NDIS_DEVICE_POWER_STATE MinWakeUp = NdisDeviceStateD2;
};

class Adapter final : public ndis::media::LowerAdapter {
public:
    explicit Adapter(AdapterConfig config = {});
    ~Adapter() override;
    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;

    // ndis::media::LowerAdapter
    std::u16string Name() const override { return config_.Name; }
    NDIS_MEDIUM Medium() const override { return config_.Medium; }
    std::u16string UpperBindings() const override { return config_.UpperBindings; }
    NDIS_STATUS Open(ndis::media::LowerEdge* edge) override;
    NDIS_STATUS Close() override;
    NDIS_STATUS Send(PNDIS_PACKET packet) override;
    NDIS_STATUS Request(PNDIS_REQUEST request) override;
    NDIS_STATUS TransferData(NDIS_HANDLE macReceiveContext, UINT byteOffset, UINT bytesToTransfer,
                             PNDIS_PACKET packet, PUINT bytesTransferred) override;
    void ReturnPacket(PNDIS_PACKET packet) override;

    // Behaviour.
    std::atomic<Completion> Sends{Completion::Immediate};
    std::atomic<Completion> Requests{Completion::Immediate};
    std::atomic<Completion> Transfers{Completion::Immediate};
    std::atomic<Completion> Opens{Completion::Immediate};
    std::atomic<Completion> Closes{Completion::Immediate};
    std::atomic<NDIS_STATUS> SendStatus{NDIS_STATUS_SUCCESS};
    std::atomic<NDIS_STATUS> OpenStatus{NDIS_STATUS_SUCCESS};
    // Off for a long-running source: sends and queries are then not recorded.
    std::atomic<bool> KeepHistory{true};

    // Completes what pends; returns how many.
    std::size_t CompletePendingSends();
    std::size_t CompletePendingRequests();
    std::size_t CompletePendingTransfers();

    // Receiving. The header is 13 bytes on FDDI, 14 on the other media.
    UINT HeaderSize() const;
    void IndicatePacket(const Frame& frame, NDIS_STATUS status = NDIS_STATUS_SUCCESS);
    NDIS_STATUS IndicateLookahead(const Frame& frame, UINT lookaheadSize, bool withDescriptor);
    void IndicateReceiveComplete();
    void IndicateStatus(NDIS_STATUS status);
    void IndicateStatusComplete();
    NDIS_STATUS SetPower(NDIS_DEVICE_POWER_STATE state);

    // What happened.
    bool IsOpen() const { return edge_.load() != nullptr; }
    std::vector<Frame> SentFrames() const;
    std::size_t SentCount() const;
    std::size_t PendingSends() const;
    std::size_t PendingRequests() const;
    std::vector<NDIS_OID> RequestedOids() const;
    std::size_t PacketsHeld() const;     // indicated, not yet returned
    std::size_t PacketsReturned() const;

private:
    struct Indicated;  // a packet indicated up with the frame it describes
    NDIS_STATUS Answer(PNDIS_REQUEST request) const;
    void CompleteLater(bool open, NDIS_STATUS status);
    std::unique_ptr<Indicated> MakeIndicated(const Frame& frame);
    void JoinHelpers();

    const AdapterConfig config_;
    std::atomic<ndis::media::LowerEdge*> edge_{nullptr};
    NDIS_HANDLE pool_ = nullptr;

    mutable std::mutex lock_;
    std::vector<Frame> sent_;
    std::deque<PNDIS_PACKET> pendingSends_;
    std::deque<PNDIS_REQUEST> pendingRequests_;
    struct PendingTransfer {
        PNDIS_PACKET Packet;
        UINT Bytes;
    };
    std::deque<PendingTransfer> pendingTransfers_;
    std::vector<NDIS_OID> oids_;
    std::map<PNDIS_PACKET, std::unique_ptr<Indicated>> held_;
    std::size_t returned_ = 0;
    std::map<std::uintptr_t, Frame> lookaheadFrames_;
    std::uintptr_t nextContext_ = 1;
    std::vector<std::thread> helpers_;
};

// The bytes a packet's buffer chain describes.
Frame FrameOf(PNDIS_PACKET packet);

}  // namespace ndis::sim
