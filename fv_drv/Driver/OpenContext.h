// The per-handle state of a control handle bound to an adapter.
#pragma once

#include <atomic>

#include "fv_drv/ndis/ndis.h"
#include "fv_drv/Driver/AdapterBinding.h"

// Hangs off the handle's file object (FsContext). Every reference on the context carries one
// reference on its binding, so the binding outlives the adapter's unbind while a handle holds it.
struct OpenContext {
    std::atomic<LONG> References{1};
    NDIS_SPIN_LOCK Lock;
    AdapterBinding* Binding = nullptr;

    // One OID query at a time, sent down the binding on the handle's behalf.
    ControlRequest Query;
    NDIS_STATUS QueryStatus = NDIS_STATUS_SUCCESS;
    NDIS_EVENT QueryDone;
    BOOLEAN QueryBusy = FALSE;  // (Lock)
};

// A context with one reference, taking over the caller's reference on `binding`; none when
// memory runs out (the binding reference is then still the caller's).
OpenContext* AllocateOpenContext(AdapterBinding* binding);
// One more reference on the context and on its binding.
void ReferenceOpenContext(OpenContext* context);
// Drops one reference on the context and one on its binding; the last frees the context.
void DereferenceOpenContext(OpenContext* context);
