// The stand-in's own bookkeeping: registered protocols and drivers, open bindings, virtual
// adapter instances. Not for driver code.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fv_drv/ndis/ndis_config.h"
#include "fv_drv/ndis/ndis_media.h"
#include "fv_drv/ndis/ndis_miniport.h"
#include "fv_drv/ndis/ndis_protocol.h"

namespace ndis::detail {

struct ProtocolBlock {
    NDIS_PROTOCOL_CHARACTERISTICS Chars;
    std::u16string Name;
};

struct DriverBlock {
    NDIS_MINIPORT_CHARACTERISTICS Chars;
    ProtocolBlock* Protocol = nullptr;
};

// One protocol's open binding on one lower adapter: the adapter's LowerEdge.
class OpenBlock final : public ndis::media::LowerEdge {
public:
    OpenBlock(ProtocolBlock* protocol, NDIS_HANDLE context, ndis::media::LowerAdapter* adapter)
        : Protocol(protocol), Context(context), Adapter(adapter) {}

    void OpenComplete(NDIS_STATUS status) override;
    void CloseComplete(NDIS_STATUS status) override;
    void SendComplete(PNDIS_PACKET packet, NDIS_STATUS status) override;
    void RequestComplete(PNDIS_REQUEST request, NDIS_STATUS status) override;
    void TransferDataComplete(PNDIS_PACKET packet, NDIS_STATUS status,
                              UINT bytesTransferred) override;
    void IndicateReceivePacket(PNDIS_PACKET* packets, UINT count) override;
    NDIS_STATUS IndicateReceive(NDIS_HANDLE macReceiveContext, PVOID header, UINT headerSize,
                                PVOID lookahead, UINT lookaheadSize, UINT packetSize,
                                PNDIS_PACKET packet) override;
    void IndicateReceiveComplete() override;
    void IndicateStatus(NDIS_STATUS status, PVOID buffer, UINT size) override;
    void IndicateStatusComplete() override;
    NDIS_STATUS PnPEvent(PNET_PNP_EVENT event) override;

    ProtocolBlock* const Protocol;
    const NDIS_HANDLE Context;
    ndis::media::LowerAdapter* const Adapter;
};

// A protocol bound (or binding) to a lower adapter.
struct BindingRecord {
    ProtocolBlock* Protocol;
    ndis::media::LowerAdapter* Adapter;
    OpenBlock* Open;  // none until NdisOpenAdapter, and after the close
};

// A virtual adapter instance of an intermediate driver.
struct MiniportBlock {
    DriverBlock* Driver = nullptr;
    std::u16string Name;
    NDIS_HANDLE Context = nullptr;
    NDIS_MEDIUM Medium = NdisMedium802_3;
    ULONG Attributes = 0;
    std::atomic<ndis::media::UpperProtocol*> Upper{nullptr};
    std::mutex RequestLock;
    PNDIS_REQUEST ActiveRequest = nullptr;
    std::deque<PNDIS_REQUEST> WaitingRequests;
};

// What the bind-adapter handler gets as its protocol section.
struct ProtocolSection {
    NDIS_STRING Name;
    std::u16string UpperBindings;
};

struct Wrapper {
    std::mutex Lock;
    DRIVER_OBJECT Driver;
    std::vector<std::unique_ptr<ProtocolBlock>> Protocols;
    std::vector<std::unique_ptr<DriverBlock>> Drivers;
    std::vector<ndis::media::LowerAdapter*> Adapters;
    std::vector<BindingRecord> Bindings;
    std::vector<MiniportBlock*> Miniports;
    ndis::host::DeviceHost* DeviceHost = nullptr;
};

Wrapper& TheWrapper();

// Binds `protocol` to `adapter` unless it is bound already.
void BindProtocol(ProtocolBlock* protocol, ndis::media::LowerAdapter* adapter);
// Calls the protocol's unbind handler for every open binding on `adapter` (any adapter: none).
void UnbindProtocol(ProtocolBlock* protocol, ndis::media::LowerAdapter* adapter);
// Takes the open out of the bookkeeping (before its protocol learns it is gone, so that no one
// finds it afterwards); ForgetOpen also frees it.
void DetachOpen(OpenBlock* open);
void ForgetOpen(OpenBlock* open);

// Hold counting of indicated packets. A holder may give a packet back before the indication
// has returned (a protocol above that is done with it at once), so the count carries a bias
// while the indication runs.
inline constexpr LONG kIndicationBias = 0x40000000;
inline void BeginIndication(PNDIS_PACKET p) { std::atomic_ref<LONG>(p->Holders).store(kIndicationBias); }
// True when no holder is left: the packet goes back to whoever indicated it.
inline bool EndIndication(PNDIS_PACKET p, INT held) {
    const LONG add = (held > 0 ? held : 0) - kIndicationBias;
    return std::atomic_ref<LONG>(p->Holders).fetch_add(add) + add == 0;
}
inline bool DropHolder(PNDIS_PACKET p) { return std::atomic_ref<LONG>(p->Holders).fetch_sub(1) == 1; }

// NDIS_STRING view of a string that outlives it.
NDIS_STRING StringView(const std::u16string& s);
std::u16string FromNdisString(const NDIS_STRING* s);

}  // namespace ndis::detail
