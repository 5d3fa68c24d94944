// Buffer descriptors and packet descriptors: a frame lies in a chain of buffers.
#pragma once

#include "fv_drv/ndis/ndis_types.h"

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

// Out-of-band data travelling with a packet.
struct NDIS_PACKET_OOB_DATA {
    ULONGLONG TimeToSend = 0;
    ULONGLONG TimeSent = 0;
    ULONGLONG TimeReceived = 0;
    UINT HeaderSize = 0;
    UINT SizeMediaSpecificInfo = 0;
    PVOID MediaSpecificInformation = nullptr;
    NDIS_STATUS Status = 0;
};

enum NDIS_PER_PACKET_INFO : UINT {
    TcpIpChecksumPacketInfo = 0,
    IpSecPacketInfo,
    TcpLargeSendPacketInfo,
    ClassificationHandlePacketInfo,
    NdisReserved,
    ScatterGatherListPacketInfo,
    Ieee8021pPriority,
    OriginalPacketInfo,
    PacketCancelId,
    MaxPerPacketInfo,
};

struct NDIS_PACKET_EXTENSION {
    PVOID NdisPacketInfo[MaxPerPacketInfo] = {};
};

// Room for the protocol-reserved length a pool may ask for.
inline constexpr UINT kNdisMaxProtocolReserved = 4 * sizeof(PVOID);

struct NDIS_PACKET {
    NDIS_PACKET_PRIVATE Private;
    // The reserved areas hold pointers, so they are pointer-aligned.
    alignas(PVOID) UCHAR MiniportReserved[2 * sizeof(PVOID)] = {};
    alignas(PVOID) UCHAR WrapperReserved[2 * sizeof(PVOID)] = {};
    NDIS_PACKET_OOB_DATA OobData;
    NDIS_PACKET_EXTENSION Extension;
    // Who gets the packet back from NdisReturnPackets, and how many holders still have it.
    PVOID ReturnTo = nullptr;
    LONG Holders = 0;
    alignas(PVOID) UCHAR ProtocolReserved[kNdisMaxProtocolReserved] = {};
};
using PNDIS_PACKET = NDIS_PACKET*;

inline UINT NdisGetPacketFlags(PNDIS_PACKET p) { return p->Private.Flags; }
inline void NdisSetPacketFlags(PNDIS_PACKET p, UINT flags) { p->Private.Flags = flags; }
inline PNDIS_BUFFER& NDIS_PACKET_FIRST_NDIS_BUFFER(PNDIS_PACKET p) { return p->Private.Head; }
inline PNDIS_BUFFER& NDIS_PACKET_LAST_NDIS_BUFFER(PNDIS_PACKET p) { return p->Private.Tail; }
inline NDIS_PACKET_OOB_DATA* NDIS_OOB_DATA_FROM_PACKET(PNDIS_PACKET p) { return &p->OobData; }
inline NDIS_PACKET_EXTENSION* NDIS_PACKET_EXTENSION_FROM_PACKET(PNDIS_PACKET p) {
    return &p->Extension;
}
inline PVOID& NDIS_PER_PACKET_INFO_FROM_PACKET(PNDIS_PACKET p, NDIS_PER_PACKET_INFO id) {
    return p->Extension.NdisPacketInfo[id];
}
inline UINT NDIS_GET_PACKET_HEADER_SIZE(PNDIS_PACKET p) { return p->OobData.HeaderSize; }
inline void NDIS_SET_PACKET_HEADER_SIZE(PNDIS_PACKET p, UINT size) { p->OobData.HeaderSize = size; }
inline NDIS_STATUS NDIS_GET_PACKET_STATUS(PNDIS_PACKET p) { return p->OobData.Status; }
inline void NDIS_SET_PACKET_STATUS(PNDIS_PACKET p, NDIS_STATUS status) { p->OobData.Status = status; }
inline void NDIS_GET_PACKET_MEDIA_SPECIFIC_INFO(PNDIS_PACKET p, PVOID* info, PUINT size) {
    *info = p->OobData.MediaSpecificInformation;
    *size = p->OobData.SizeMediaSpecificInfo;
}
inline void NDIS_SET_PACKET_MEDIA_SPECIFIC_INFO(PNDIS_PACKET p, PVOID info, UINT size) {
    p->OobData.MediaSpecificInformation = info;
    p->OobData.SizeMediaSpecificInfo = size;
}
// Per-packet information an intermediate driver carries from the sender's packet down, and
// from the completed packet back to the sender's.
void NdisIMCopySendPerPacketInfo(PNDIS_PACKET destination, PNDIS_PACKET source);
void NdisIMCopySendCompletePerPacketInfo(PNDIS_PACKET destination, PNDIS_PACKET source);

// Packet pools: `numberOfDescriptors` at first, growing by up to `numberOfOverflowDescriptors`.
// Allocation from an exhausted pool fails with NDIS_STATUS_RESOURCES. Thread-safe.
void NdisAllocatePacketPoolEx(PNDIS_STATUS status, PNDIS_HANDLE poolHandle,
                              UINT numberOfDescriptors, UINT numberOfOverflowDescriptors,
                              UINT protocolReservedLength);
void NdisFreePacketPool(NDIS_HANDLE poolHandle);
// A fresh descriptor: no buffers, no flags, zeroed out-of-band data and reserved areas.
void NdisAllocatePacket(PNDIS_STATUS status, PNDIS_PACKET* packet, NDIS_HANDLE poolHandle);
void NdisFreePacket(PNDIS_PACKET packet);
inline void NdisDprAllocatePacket(PNDIS_STATUS status, PNDIS_PACKET* packet, NDIS_HANDLE pool) {
    NdisAllocatePacket(status, packet, pool);
}
inline void NdisDprFreePacket(PNDIS_PACKET packet) { NdisFreePacket(packet); }
// Descriptors in use.
UINT NdisPacketPoolUsage(NDIS_HANDLE poolHandle);

namespace ndis::test {
// The next `count` allocations from the pool fail with NDIS_STATUS_RESOURCES.
void FailPacketAllocations(NDIS_HANDLE poolHandle, int count);
}  // namespace ndis::test

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
