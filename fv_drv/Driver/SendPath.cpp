// Outgoing packets: from the protocols above, through the filter, down to the lower adapter.
#include "fv_drv/Driver/DriverGlobals.h"
#include "fv_drv/Driver/Handlers.h"
#include "fv_drv/Driver/PacketReserved.h"

namespace {

void SendOne(AdapterBinding* b, NDIS_HANDLE miniport, PNDIS_PACKET packet) {
    if (IsLowPower(b->MiniportPowerState.load())) {
        NdisMSendComplete(miniport, packet, NDIS_STATUS_FAILURE);
        return;
    }
    if (FilterPacket(b->Filter, b->Lock, packet, PacketDirection::Outgoing, false) ==
        kVerdictBlock) {
        // The sender sees success; nothing reaches the wire.
        NdisMSendComplete(miniport, packet, NDIS_STATUS_SUCCESS);
        return;
    }

    NdisAcquireSpinLock(&b->Lock);
    if (IsLowPower(b->LowerPowerState.load())) {
        NdisReleaseSpinLock(&b->Lock);
        NdisMSendComplete(miniport, packet, NDIS_STATUS_FAILURE);
        return;
    }
    NdisInterlockedIncrement(&b->OutstandingSends);
    NdisReleaseSpinLock(&b->Lock);

    NDIS_STATUS status;
    PNDIS_PACKET ours = nullptr;
    NdisAllocatePacket(&status, &ours, b->SendPacketPool);
    if (status != NDIS_STATUS_SUCCESS) {
        NdisMSendComplete(miniport, packet, status);
        NdisInterlockedDecrement(&b->OutstandingSends);
        return;
    }
    SendReservedOf(ours)->Original = packet;
    ShareFrame(ours, packet);
    NdisIMCopySendPerPacketInfo(ours, packet);

    NdisSend(&status, b->BindingHandle, ours);
    if (status != NDIS_STATUS_PENDING) {
        NdisIMCopySendCompletePerPacketInfo(packet, ours);
        NdisFreePacket(ours);
        NdisMSendComplete(miniport, packet, status);
        NdisInterlockedDecrement(&b->OutstandingSends);
    }
}

}  // namespace

void MiniportSendPackets(NDIS_HANDLE context, PPNDIS_PACKET packetArray, UINT numberOfPackets) {
    auto* b = static_cast<AdapterBinding*>(context);
    const NDIS_HANDLE miniport = b->MiniportHandle.load();
    for (UINT i = 0; i < numberOfPackets; ++i) SendOne(b, miniport, packetArray[i]);
}

void ProtocolSendComplete(NDIS_HANDLE context, PNDIS_PACKET packet, NDIS_STATUS status) {
    auto* b = static_cast<AdapterBinding*>(context);
    PNDIS_PACKET original = SendReservedOf(packet)->Original;
    NdisIMCopySendCompletePerPacketInfo(original, packet);
    NdisDprFreePacket(packet);
    NdisMSendComplete(b->MiniportHandle.load(), original, status);
    // Last: a halt waiting for this count may free the virtual adapter.
    NdisInterlockedDecrement(&b->OutstandingSends);
}
