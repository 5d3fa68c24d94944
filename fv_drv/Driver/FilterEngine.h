// The per-packet decision of one bound adapter.
#pragma once

#include <cstdint>

#include "fv_drv/ndis/ndis.h"
#include "fv_drv/Driver/EventRing.h"
#include "fv_drv/Driver/LookupCache.h"
#include "fv_drv/Driver/RangeTable.h"

class FilterMirror;

// Zero when the adapter binds: filtering off, no table, no events.
struct FilterState {
    std::uint8_t FilteringEnabled = 0;
    std::uint32_t SentCount = 0;
    std::uint32_t SentBlockedCount = 0;
    std::uint32_t Reserved1Count = 0;  // reported, never incremented
    std::uint32_t Reserved2Count = 0;  // reported, never incremented
    std::uint32_t ReceivedCount = 0;
    std::uint32_t ReceivedBlockedCount = 0;
    RangeTable* Ranges = nullptr;
    PKEVENT ExitEvent = nullptr;
    PKEVENT BlockedEvent = nullptr;
    std::uint8_t ReportBlocked = 0;
    PKEVENT GrantedEvent = nullptr;
    std::uint8_t ReportGranted = 0;
    EventRing BlockedRing;
    EventRing GrantedRing;
    LookupCache Lookups;  // answers for the current `Ranges`
    FilterMirror* Mirror = nullptr;  // set while the kernel decides this adapter's packets
};

// Installs `table` (or none) under the adapter lock and returns the table it replaces.
RangeTable* FilterStateSetRanges(FilterState& state, RangeTable* table);

inline constexpr int kVerdictPass = 0;
inline constexpr int kVerdictBlock = 1;

// Frame layout on every medium: Ethernet II header, then IPv4.
inline constexpr UINT kEtherTypeOffset = 12;
inline constexpr UINT kIpHeaderOffset = 14;
inline constexpr UINT kIpHeaderLength = 20;
inline constexpr UINT kPortsOffset = kIpHeaderOffset + kIpHeaderLength;
inline constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
inline constexpr std::uint8_t kIpProtocolTcp = 6;
inline constexpr std::uint8_t kIpProtocolUdp = 17;

// Copies up to `length` frame bytes starting `offset` bytes in, across the buffer chain.
// Returns the count copied: fewer when the frame ends first, 0 without a packet.
UINT CopyFrameBytes(PNDIS_PACKET packet, void* destination, UINT length, UINT offset);

// The whole decision runs under `adapterLock`. Returns kVerdictBlock or kVerdictPass.
// `atDispatchLevel` only selects how the lock is taken.
int FilterPacket(FilterState& state, NDIS_SPIN_LOCK& adapterLock, PNDIS_PACKET packet,
                 PacketDirection direction, bool atDispatchLevel);
