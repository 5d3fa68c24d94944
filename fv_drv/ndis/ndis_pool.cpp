// Packet pools and the per-packet information copies.
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "fv_drv/ndis/ndis_packet.h"

struct NDIS_PACKET_POOL {
    std::mutex Lock;
    UINT Limit = 0;  // descriptors the pool may ever hold
    UINT InUse = 0;
    std::vector<std::unique_ptr<NDIS_PACKET>> All;
    std::vector<PNDIS_PACKET> Free;
    std::atomic<int> FailuresToInject{0};
};

namespace {

bool ConsumeInjectedFailure(NDIS_PACKET_POOL& pool) {
    int left = pool.FailuresToInject.load();
    while (left > 0) {
        if (pool.FailuresToInject.compare_exchange_weak(left, left - 1)) return true;
    }
    return false;
}

}  // namespace

void NdisAllocatePacketPoolEx(PNDIS_STATUS status, PNDIS_HANDLE poolHandle,
                              UINT numberOfDescriptors, UINT numberOfOverflowDescriptors,
                              UINT protocolReservedLength) {
    *poolHandle = nullptr;
    if (protocolReservedLength > kNdisMaxProtocolReserved || numberOfDescriptors == 0) {
        *status = NDIS_STATUS_FAILURE;
        return;
    }
    auto* pool = new (std::nothrow) NDIS_PACKET_POOL;
    if (pool == nullptr) {
        *status = NDIS_STATUS_RESOURCES;
        return;
    }
    pool->Limit = numberOfDescriptors + numberOfOverflowDescriptors;
    pool->All.reserve(numberOfDescriptors);
    for (UINT i = 0; i < numberOfDescriptors; ++i) {
        pool->All.push_back(std::make_unique<NDIS_PACKET>());
        pool->All.back()->Private.Pool = pool;
        pool->Free.push_back(pool->All.back().get());
    }
    *poolHandle = pool;
    *status = NDIS_STATUS_SUCCESS;
}

void NdisFreePacketPool(NDIS_HANDLE poolHandle) { delete static_cast<PNDIS_PACKET_POOL>(poolHandle); }

void NdisAllocatePacket(PNDIS_STATUS status, PNDIS_PACKET* packet, NDIS_HANDLE poolHandle) {
    *packet = nullptr;
    auto* pool = static_cast<PNDIS_PACKET_POOL>(poolHandle);
    if (pool == nullptr || ConsumeInjectedFailure(*pool)) {
        *status = NDIS_STATUS_RESOURCES;
        return;
    }
    PNDIS_PACKET p = nullptr;
    {
        std::lock_guard guard(pool->Lock);
        if (!pool->Free.empty()) {
            p = pool->Free.back();
            pool->Free.pop_back();
        } else if (pool->All.size() < pool->Limit) {
            pool->All.push_back(std::make_unique<NDIS_PACKET>());
            p = pool->All.back().get();
        } else {
            *status = NDIS_STATUS_RESOURCES;
            return;
        }
        ++pool->InUse;
    }
    *p = NDIS_PACKET{};
    p->Private.Pool = pool;
    *packet = p;
    *status = NDIS_STATUS_SUCCESS;
}

void NdisFreePacket(PNDIS_PACKET packet) {
    PNDIS_PACKET_POOL pool = packet->Private.Pool;
    std::lock_guard guard(pool->Lock);
    pool->Free.push_back(packet);
    --pool->InUse;
}

UINT NdisPacketPoolUsage(NDIS_HANDLE poolHandle) {
    auto* pool = static_cast<PNDIS_PACKET_POOL>(poolHandle);
    std::lock_guard guard(pool->Lock);
    return pool->InUse;
}

void NdisIMCopySendPerPacketInfo(PNDIS_PACKET destination, PNDIS_PACKET source) {
    destination->Extension = source->Extension;
}

void NdisIMCopySendCompletePerPacketInfo(PNDIS_PACKET destination, PNDIS_PACKET source) {
    destination->Extension = source->Extension;
}

namespace ndis::test {

void FailPacketAllocations(NDIS_HANDLE poolHandle, int count) {
    static_cast<PNDIS_PACKET_POOL>(poolHandle)->FailuresToInject.store(count);
}

}  // namespace ndis::test
