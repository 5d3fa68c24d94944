#include "fv_drv/Driver/EventRing.h"

#include <cstring>

namespace {
constexpr UINT kStorageBytes = kEventRingSlots * sizeof(PacketEventRecord);
}

PacketEventRecord* EventRingAllocateStorage() {
    PVOID storage = nullptr;
    if (NdisAllocateMemoryWithTag(&storage, kStorageBytes, kEventRingPoolTag) !=
        NDIS_STATUS_SUCCESS) {
        return nullptr;
    }
    NdisZeroMemory(storage, kStorageBytes);
    return static_cast<PacketEventRecord*>(storage);
}

void EventRingFreeStorage(PacketEventRecord* storage) {
    if (storage != nullptr) NdisFreeMemory(storage, kStorageBytes, 0);
}

PacketEventRecord* EventRingSwapStorage(EventRing& ring, PacketEventRecord* storage) {
    PacketEventRecord* old = ring.storage;
    ring.storage = storage;
    EventRingReset(ring);
    return old;
}

void EventRingRelease(EventRing& ring) {
    EventRingFreeStorage(ring.storage);
    ring.storage = nullptr;
}

void EventRingRenew(EventRing& ring) {
    EventRingRelease(ring);
    EventRingFreeStorage(EventRingSwapStorage(ring, EventRingAllocateStorage()));
}

void EventRingReset(EventRing& ring) {
    ring.writeIndex = 0;
    ring.readIndex = 0;
    ring.pendingCount.store(0);
}

void EventRingAppend(EventRing& ring, const PacketEventRecord& record) {
    if (ring.storage == nullptr) return;
    if (ring.writeIndex == kEventRingSlots) ring.writeIndex = 0;
    PacketEventRecord& slot = ring.storage[ring.writeIndex];
    slot.remoteAddress = record.remoteAddress;
    slot.firstPort = record.firstPort;
    slot.secondPort = record.secondPort;
    slot.direction = record.direction;
    slot.protocol = record.protocol;
    ++ring.writeIndex;
    ring.pendingCount.fetch_add(1);
}

NTSTATUS EventRingTake(EventRing& ring, PacketEventRecord* record) {
    if (ring.storage == nullptr) return STATUS_INVALID_PARAMETER;
    if (ring.readIndex == kEventRingSlots) ring.readIndex = 0;
    if (ring.pendingCount.load() == 0) return STATUS_INVALID_PARAMETER;
    ring.pendingCount.fetch_sub(1);
    std::memcpy(record, &ring.storage[ring.readIndex], sizeof *record);
    ++ring.readIndex;
    return STATUS_SUCCESS;
}

std::uint32_t EventRingPending(EventRing& ring) {
    return std::uint32_t(ring.pendingCount.fetch_add(0));
}
