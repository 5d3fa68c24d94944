// Incoming frames: from the lower adapter, through the filter, up to the protocols above.
#include "fv_drv/Driver/DriverGlobals.h"
#include "fv_drv/Driver/Handlers.h"
#include "fv_drv/Driver/PacketReserved.h"

namespace {

// The virtual adapter exists and is at full power; its handle, or none.
NDIS_HANDLE ReceivingMiniport(const AdapterBinding* b) {
    const NDIS_HANDLE miniport = b->MiniportHandle.load();
    if (miniport == nullptr || IsLowPower(b->MiniportPowerState.load())) return nullptr;
    return miniport;
}

// A receive descriptor standing for `received`, or none when the pool is exhausted.
PNDIS_PACKET WrapReceived(AdapterBinding* b, PNDIS_PACKET received) {
    NDIS_STATUS status;
    PNDIS_PACKET ours = nullptr;
    NdisDprAllocatePacket(&status, &ours, b->ReceivePacketPool);
    if (status != NDIS_STATUS_SUCCESS) return nullptr;
    ReceiveReservedOf(ours)->Original = received;
    ShareFrame(ours, received);
    return ours;
}

// Header and look-ahead up with the medium's own indication.
void IndicateLookaheadUp(AdapterBinding* b, NDIS_HANDLE miniport, NDIS_HANDLE context,
                         PVOID header, UINT headerSize, PVOID lookahead, UINT lookaheadSize,
                         UINT packetSize) {
    switch (b->Medium) {
        case NdisMedium802_5:
            NdisMTrIndicateReceive(miniport, context, header, headerSize, lookahead,
                                   lookaheadSize, packetSize);
            break;
        case NdisMediumFddi:
            NdisMFddiIndicateReceive(miniport, context, header, headerSize, lookahead,
                                     lookaheadSize, packetSize);
            break;
        default:  // 802.3, and WAN presented as 802.3
            NdisMEthIndicateReceive(miniport, context, header, headerSize, lookahead,
                                    lookaheadSize, packetSize);
            break;
    }
}

}  // namespace

INT ProtocolReceivePacket(NDIS_HANDLE context, PNDIS_PACKET packet) {
    auto* b = static_cast<AdapterBinding*>(context);
    const NDIS_HANDLE miniport = ReceivingMiniport(b);
    if (miniport == nullptr) return 0;
    if (FilterPacket(b->Filter, b->Lock, packet, PacketDirection::Incoming, true) ==
        kVerdictBlock) {
        return 0;  // back to the adapter at once, never indicated
    }
    PNDIS_PACKET ours = WrapReceived(b, packet);
    if (ours == nullptr) return 0;
    const NDIS_STATUS status = NDIS_GET_PACKET_STATUS(packet);
    NDIS_SET_PACKET_STATUS(ours, status);
    NdisMIndicateReceivePacket(miniport, &ours, 1);
    if (status == NDIS_STATUS_RESOURCES) {
        // The protocols above have copied it; the adapter wants its packet back now.
        NdisDprFreePacket(ours);
        return 0;
    }
    return 1;  // held until the return-packet handler gives it back
}

void MiniportReturnPacket(NDIS_HANDLE, PNDIS_PACKET packet) {
    PNDIS_PACKET original = ReceiveReservedOf(packet)->Original;
    NdisFreePacket(packet);
    NdisReturnPackets(&original, 1);
}

NDIS_STATUS ProtocolReceive(NDIS_HANDLE context, NDIS_HANDLE macReceiveContext, PVOID header,
                            UINT headerSize, PVOID lookahead, UINT lookaheadSize,
                            UINT packetSize) {
    auto* b = static_cast<AdapterBinding*>(context);
    const NDIS_HANDLE miniport = ReceivingMiniport(b);
    if (miniport == nullptr) return NDIS_STATUS_FAILURE;

    // Without a descriptor the engine reads no bytes, so such frames always pass.
    PNDIS_PACKET packet = NdisGetReceivedPacket(b->BindingHandle, macReceiveContext);
    if (FilterPacket(b->Filter, b->Lock, packet, PacketDirection::Incoming, true) ==
        kVerdictBlock) {
        return NDIS_STATUS_SUCCESS;
    }
    if (packet != nullptr) {
        if (PNDIS_PACKET ours = WrapReceived(b, packet); ours != nullptr) {
            // Only valid during this call: the protocols above must copy it.
            NDIS_SET_PACKET_STATUS(ours, NDIS_STATUS_RESOURCES);
            NdisMIndicateReceivePacket(miniport, &ours, 1);
            NdisDprFreePacket(ours);
            return NDIS_STATUS_SUCCESS;
        }
    }
    b->ReceiveCompleteOwed = true;
    IndicateLookaheadUp(b, miniport, macReceiveContext, header, headerSize, lookahead,
                        lookaheadSize, packetSize);
    return NDIS_STATUS_SUCCESS;
}

void ProtocolReceiveComplete(NDIS_HANDLE context) {
    auto* b = static_cast<AdapterBinding*>(context);
    const NDIS_HANDLE miniport = ReceivingMiniport(b);
    if (b->ReceiveCompleteOwed.exchange(false) && miniport != nullptr) {
        switch (b->Medium) {
            case NdisMedium802_5:
                NdisMTrIndicateReceiveComplete(miniport);
                break;
            case NdisMediumFddi:
                NdisMFddiIndicateReceiveComplete(miniport);
                break;
            default:
                NdisMEthIndicateReceiveComplete(miniport);
                break;
        }
    }
}

NDIS_STATUS MiniportTransferData(PNDIS_PACKET packet, PUINT bytesTransferred, NDIS_HANDLE context,
                                 NDIS_HANDLE miniportReceiveContext, UINT byteOffset,
                                 UINT bytesToTransfer) {
    auto* b = static_cast<AdapterBinding*>(context);
    if (!AtFullPower(*b)) return NDIS_STATUS_FAILURE;
    NDIS_STATUS status;
    NdisTransferData(&status, b->BindingHandle, miniportReceiveContext, byteOffset,
                     bytesToTransfer, packet, bytesTransferred);
    return status;
}

void ProtocolTransferDataComplete(NDIS_HANDLE context, PNDIS_PACKET packet, NDIS_STATUS status,
                                  UINT bytesTransferred) {
    auto* b = static_cast<AdapterBinding*>(context);
    if (NDIS_HANDLE miniport = b->MiniportHandle.load(); miniport != nullptr) {
        NdisMTransferDataComplete(miniport, packet, status, bytesTransferred);
    }
}
