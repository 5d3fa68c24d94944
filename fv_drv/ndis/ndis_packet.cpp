#include "fv_drv/ndis/ndis_packet.h"

void NdisChainBufferAtBack(PNDIS_PACKET packet, PNDIS_BUFFER buffer) {
    PNDIS_BUFFER last = buffer;
    while (last->Next != nullptr) last = last->Next;
    if (packet->Private.Head == nullptr) {
        packet->Private.Head = buffer;
    } else {
        packet->Private.Tail->Next = buffer;
    }
    packet->Private.Tail = last;
    packet->Private.ValidCounts = FALSE;
}

void NdisChainBufferAtFront(PNDIS_PACKET packet, PNDIS_BUFFER buffer) {
    PNDIS_BUFFER last = buffer;
    while (last->Next != nullptr) last = last->Next;
    last->Next = packet->Private.Head;
    if (packet->Private.Head == nullptr) packet->Private.Tail = last;
    packet->Private.Head = buffer;
    packet->Private.ValidCounts = FALSE;
}

void NdisQueryPacket(PNDIS_PACKET packet, PUINT physicalBufferCount, PUINT bufferCount,
                     PNDIS_BUFFER* firstBuffer, PUINT totalPacketLength) {
    NDIS_PACKET_PRIVATE& p = packet->Private;
    if (!p.ValidCounts) {
        UINT count = 0;
        UINT total = 0;
        for (PNDIS_BUFFER b = p.Head; b != nullptr; b = b->Next) {
            ++count;
            total += b->Length;
        }
        p.Count = count;
        p.PhysicalCount = count;
        p.TotalLength = total;
        p.ValidCounts = TRUE;
    }
    if (physicalBufferCount != nullptr) *physicalBufferCount = p.PhysicalCount;
    if (bufferCount != nullptr) *bufferCount = p.Count;
    if (firstBuffer != nullptr) *firstBuffer = p.Head;
    if (totalPacketLength != nullptr) *totalPacketLength = p.TotalLength;
}
