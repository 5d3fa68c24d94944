// A ring of packet event records between the packet paths and the program's readers.
// All operations run under the adapter lock; the pending count is still changed atomically
// because the count request reads it with an atomic add of zero.
#pragma once

#include <atomic>
#include <cstdint>

#include "fv_drv/ndis/ndis.h"
#include "fv_contract/PacketEventRecord.h"

inline constexpr std::int32_t kEventRingSlots = 200000;
inline constexpr ULONG kEventRingPoolTag = MakePoolTag("FVCQ");

struct EventRing {
    PacketEventRecord* storage = nullptr;
    std::int32_t writeIndex = 0;
    std::int32_t readIndex = 0;
    std::atomic<std::int32_t> pendingCount{0};
};

// Storage for one ring, cleared so that the spare bytes of a record carry nothing of earlier
// memory; none when memory runs out. Allocating and clearing 2.4 MB takes long: done outside
// the adapter lock.
PacketEventRecord* EventRingAllocateStorage();
void EventRingFreeStorage(PacketEventRecord* storage);
// Installs `storage` (possibly none), empties the ring and returns the storage it had.
[[nodiscard]] PacketEventRecord* EventRingSwapStorage(EventRing& ring, PacketEventRecord* storage);
// Releases the storage and allocates it anew; on failure the ring stays without storage.
void EventRingRenew(EventRing& ring);
// Empties the ring, keeping its storage.
void EventRingReset(EventRing& ring);
// Frees the storage.
void EventRingRelease(EventRing& ring);
// Never refuses and never waits: a writer that laps the reader overwrites unread slots.
void EventRingAppend(EventRing& ring, const PacketEventRecord& record);
// STATUS_SUCCESS with the record, or STATUS_INVALID_PARAMETER (no storage, or empty).
NTSTATUS EventRingTake(EventRing& ring, PacketEventRecord* record);
std::uint32_t EventRingPending(EventRing& ring);
