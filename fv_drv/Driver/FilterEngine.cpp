#include "fv_drv/Driver/FilterEngine.h"

#include <arpa/inet.h>

#include <cstring>

UINT CopyFrameBytes(PNDIS_PACKET packet, void* destination, UINT length, UINT offset) {
    if (packet == nullptr) return 0;
    PNDIS_BUFFER buffer = nullptr;
    UINT bufferCount = 0;
    UINT totalLength = 0;
    NdisQueryPacket(packet, nullptr, &bufferCount, &buffer, &totalLength);
    if (offset >= totalLength || length == 0) return 0;

    auto* out = static_cast<UCHAR*>(destination);
    UINT copied = 0;
    for (UINT i = 0; i < bufferCount && buffer != nullptr && copied < length; ++i) {
        PVOID address = nullptr;
        UINT bufferLength = 0;
        NdisQueryBuffer(buffer, &address, &bufferLength);
        if (offset >= bufferLength) {
            offset -= bufferLength;
        } else {
            UINT chunk = bufferLength - offset;
            if (chunk > length - copied) chunk = length - copied;
            std::memcpy(out + copied, static_cast<const UCHAR*>(address) + offset, chunk);
            copied += chunk;
            offset = 0;
        }
        NdisGetNextBuffer(buffer, &buffer);
    }
    return copied;
}

RangeTable* FilterStateSetRanges(FilterState& state, RangeTable* table) {
    RangeTable* old = state.Ranges;
    state.Ranges = table;
    LookupCacheReset(state.Lookups, table);
    return old;
}

namespace {

constexpr UINT kIpSourceOffset = 12;
constexpr UINT kIpDestinationOffset = 16;
constexpr UINT kIpProtocolOffset = 9;
constexpr UINT kPortsLength = 4;

// Direction is a template argument so that each path compiles to its own straight line.
template <PacketDirection kDirection>
int FilterUnderLock(FilterState& state, PNDIS_PACKET packet) {
    constexpr bool kOutgoing = kDirection == PacketDirection::Outgoing;
    if (kOutgoing) {
        ++state.SentCount;
    } else {
        ++state.ReceivedCount;
    }
    if (state.Ranges == nullptr || state.FilteringEnabled == 0) return kVerdictPass;

    std::uint16_t etherType;
    if (CopyFrameBytes(packet, &etherType, sizeof etherType, kEtherTypeOffset) < sizeof etherType) {
        return kVerdictPass;
    }
    if (ntohs(etherType) != kEtherTypeIpv4) return kVerdictPass;

    UCHAR header[kIpHeaderLength];
    if (CopyFrameBytes(packet, header, kIpHeaderLength, kIpHeaderOffset) < kIpHeaderLength) {
        return kVerdictPass;
    }
    if ((header[0] >> 4) != 4) return kVerdictPass;

    const UCHAR protocol = header[kIpProtocolOffset];
    std::uint16_t ports[2] = {0, 0};
    if (protocol == kIpProtocolTcp || protocol == kIpProtocolUdp) {
        if (CopyFrameBytes(packet, ports, kPortsLength, kPortsOffset) < kPortsLength) {
            ports[0] = ports[1] = 0;
        }
    }

    std::uint32_t remote;
    std::memcpy(&remote, header + (kOutgoing ? kIpDestinationOffset : kIpSourceOffset),
                sizeof remote);

    PacketEventRecord record;
    if (state.ReportBlocked != 0 || state.ReportGranted != 0) {
        record.remoteAddress = remote;
        record.firstPort = ports[0];
        record.secondPort = ports[1];
        record.direction = std::uint8_t(kDirection);
        record.protocol = protocol;
    }

    const std::uint32_t key = ntohl(remote);
    const RangeTable* table = state.Ranges;
    if (CachedFindRange(state.Lookups, table, key) != nullptr) {
        if (kOutgoing) {
            ++state.SentBlockedCount;
        } else {
            ++state.ReceivedBlockedCount;
        }
        if (state.BlockedEvent != nullptr && state.ReportBlocked != 0) {
            EventRingAppend(state.BlockedRing, record);
            KeSetEvent(state.BlockedEvent, IO_NO_INCREMENT, FALSE);
        }
        return kVerdictBlock;
    }
    if (state.GrantedEvent != nullptr && state.ReportGranted != 0) {
        EventRingAppend(state.GrantedRing, record);
        KeSetEvent(state.GrantedEvent, IO_NO_INCREMENT, FALSE);
    }
    return kVerdictPass;
}

}  // namespace

int FilterPacket(FilterState& state, NDIS_SPIN_LOCK& adapterLock, PNDIS_PACKET packet,
                 PacketDirection direction, bool atDispatchLevel) {
    if (atDispatchLevel) {
        NdisDprAcquireSpinLock(&adapterLock);
    } else {
        NdisAcquireSpinLock(&adapterLock);
    }
    const int verdict = direction == PacketDirection::Outgoing
                            ? FilterUnderLock<PacketDirection::Outgoing>(state, packet)
                            : FilterUnderLock<PacketDirection::Incoming>(state, packet);
    if (atDispatchLevel) {
        NdisDprReleaseSpinLock(&adapterLock);
    } else {
        NdisReleaseSpinLock(&adapterLock);
    }
    return verdict;
}
