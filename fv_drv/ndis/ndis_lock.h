// NDIS spin locks. The driver code runs in a user-space daemon, so "raising the IRQL" has no
// meaning here: both acquire forms take the same lock, and a waiter that spins too long yields
// its processor so that a preempted holder can finish.
#pragma once

#include <atomic>

#include "fv_drv/ndis/ndis_types.h"

struct NDIS_SPIN_LOCK {
    std::atomic<bool> Locked{false};
};
using PNDIS_SPIN_LOCK = NDIS_SPIN_LOCK*;

namespace ndis::detail {
void SpinUntilFree(std::atomic<bool>& locked);
}

inline void NdisAllocateSpinLock(PNDIS_SPIN_LOCK lock) { lock->Locked.store(false); }
inline void NdisFreeSpinLock(PNDIS_SPIN_LOCK) {}

inline void NdisAcquireSpinLock(PNDIS_SPIN_LOCK lock) {
    while (lock->Locked.exchange(true, std::memory_order_acquire)) {
        ndis::detail::SpinUntilFree(lock->Locked);
    }
}
inline void NdisReleaseSpinLock(PNDIS_SPIN_LOCK lock) {
    lock->Locked.store(false, std::memory_order_release);
}
inline void NdisDprAcquireSpinLock(PNDIS_SPIN_LOCK lock) { NdisAcquireSpinLock(lock); }
inline void NdisDprReleaseSpinLock(PNDIS_SPIN_LOCK lock) { NdisReleaseSpinLock(lock); }
