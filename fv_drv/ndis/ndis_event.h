// NDIS events (manual reset, for waiting on completions at passive level), short sleeps and
// interlocked counters.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "fv_drv/ndis/ndis_types.h"

struct NDIS_EVENT {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Signalled = false;
};
using PNDIS_EVENT = NDIS_EVENT*;

void NdisInitializeEvent(PNDIS_EVENT event);
void NdisSetEvent(PNDIS_EVENT event);
void NdisResetEvent(PNDIS_EVENT event);
// Waits until the event is set; `msToWait` 0 waits without time-out. TRUE when it was set.
BOOLEAN NdisWaitEvent(PNDIS_EVENT event, UINT msToWait);

void NdisMSleep(ULONG microsecondsToSleep);

inline LONG NdisInterlockedIncrement(std::atomic<LONG>* addend) { return addend->fetch_add(1) + 1; }
inline LONG NdisInterlockedDecrement(std::atomic<LONG>* addend) { return addend->fetch_sub(1) - 1; }
