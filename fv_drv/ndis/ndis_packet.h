// Buffer descriptors and packet descriptors: a frame lies in a chain of buffers.
#pragma once

#include "ndis_types.h"

struct NDIS_BUFFER {
    NDIS_BUFFER* Next = nullptr;
    PVOID VirtualAddress = nullptr;
    UINT Length = 0;
};
using PNDIS_BUFFER = NDIS_BUFFER*;

struct NDIS_PACKET_POOL;
using PNDIS_PACKET_POOL = NDIS_PACKET_POOL*;

struct NDIS_PACKET_PRIVATE {
    UINT PhysicalCount = 0;
    UINT TotalLength = 0;
    PNDIS_BUFFER Head = nullptr;
    PNDIS_BUFFER Tail = nullptr;
    PNDIS_PACKET_POOL Pool = nullptr;
    UINT Count = 0;
    ULONG Flags = 0;
    BOOLEAN ValidCounts = FALSE;  // PhysicalCount, Count and TotalLength are cached
    UCHAR NdisPacketFlags = 0;
    USHORT NdisPacketOobOffset = 0;
};

struct NDIS_PACKET {
    NDIS_PACKET_PRIVATE Private;
    UCHAR MiniportReserved[2 * sizeof(PVOID)] = {};
    UCHAR WrapperReserved[2 * sizeof(PVOID)] = {};
    UCHAR ProtocolReserved[4 * sizeof(PVOID)] = {};
};
using PNDIS_PACKET = NDIS_PACKET*;

void NdisChainBufferAtBack(PNDIS_PACKET packet, PNDIS_BUFFER buffer);
void NdisChainBufferAtFront(PNDIS_PACKET packet, PNDIS_BUFFER buffer);

// Walks the chain once to fill the counts and caches them in the packet; later calls read
// the cache until the chain changes.
void NdisQueryPacket(PNDIS_PACKET packet, PUINT physicalBufferCount, PUINT bufferCount,
                     PNDIS_BUFFER* firstBuffer, PUINT totalPacketLength);

inline void NdisQueryBuffer(PNDIS_BUFFER buffer, PVOID* virtualAddress, PUINT length) {
    if (virtualAddress != nullptr) *virtualAddress = buffer->VirtualAddress;
    *length = buffer->Length;
}

inline void NdisGetNextBuffer(PNDIS_BUFFER buffer, PNDIS_BUFFER* next) { *next = buffer->Next; }
