#include "fv_drv/Driver/AdapterBinding.h"

#include <cstring>
#include <new>

#include "fv_drv/Driver/DriverGlobals.h"

namespace {

UINT AllocationSize(const NDIS_STRING& virtualName, const NDIS_STRING& lowerName) {
    return UINT(sizeof(AdapterBinding)) + virtualName.MaximumLength + lowerName.MaximumLength;
}

void CopyName(NDIS_STRING& to, const NDIS_STRING& from, UCHAR* storage) {
    to.Buffer = reinterpret_cast<PWSTR>(storage);
    to.MaximumLength = from.MaximumLength;
    to.Length = from.Length <= from.MaximumLength ? from.Length : from.MaximumLength;
    if (to.Length != 0) NdisMoveMemory(storage, from.Buffer, to.Length);
}

}  // namespace

AdapterBinding* AllocateBinding(const NDIS_STRING& virtualName, const NDIS_STRING& lowerName) {
    const UINT size = AllocationSize(virtualName, lowerName);
    PVOID memory = nullptr;
    if (NdisAllocateMemoryWithTag(&memory, size, kDriverPoolTag) != NDIS_STATUS_SUCCESS) {
        return nullptr;
    }
    NdisZeroMemory(memory, size);
    auto* binding = new (memory) AdapterBinding;
    auto* names = static_cast<UCHAR*>(memory) + sizeof(AdapterBinding);
    CopyName(binding->VirtualName, virtualName, names);
    CopyName(binding->LowerName, lowerName, names + virtualName.MaximumLength);
    NdisInitializeEvent(&binding->Event);
    NdisInitializeEvent(&binding->MiniportInitEvent);
    NdisAllocateSpinLock(&binding->Lock);
    return binding;
}

void ReferenceBinding(AdapterBinding* binding) { NdisInterlockedIncrement(&binding->References); }

void DereferenceBinding(AdapterBinding* binding) {
    if (NdisInterlockedDecrement(&binding->References) != 0) return;
    if (binding->SendPacketPool != nullptr) NdisFreePacketPool(binding->SendPacketPool);
    if (binding->ReceivePacketPool != nullptr) NdisFreePacketPool(binding->ReceivePacketPool);
    FilterState& f = binding->Filter;
    if (f.Ranges != nullptr) {
        NdisFreeMemory(f.Ranges, UINT(RangeTableImageSize(f.Ranges->count)), 0);
        f.Ranges = nullptr;
    }
    EventRingRelease(f.BlockedRing);
    EventRingRelease(f.GrantedRing);
    // A filter left running when the adapter went away still holds its events.
    for (PKEVENT* e : {&f.BlockedEvent, &f.GrantedEvent, &f.ExitEvent}) {
        if (*e != nullptr) ObDereferenceObject(*e);
        *e = nullptr;
    }
    NdisFreeSpinLock(&binding->Lock);
    const UINT size = AllocationSize(binding->VirtualName, binding->LowerName);
    binding->~AdapterBinding();
    NdisFreeMemory(binding, size, 0);
}

void InsertBinding(AdapterBinding* binding) {
    NdisAcquireSpinLock(&g_driver.GlobalLock);
    binding->Next = g_driver.Bindings;
    g_driver.Bindings = binding;
    NdisReleaseSpinLock(&g_driver.GlobalLock);
}

void RemoveBinding(AdapterBinding* binding) {
    NdisAcquireSpinLock(&g_driver.GlobalLock);
    for (AdapterBinding** link = &g_driver.Bindings; *link != nullptr; link = &(*link)->Next) {
        if (*link == binding) {
            *link = binding->Next;
            break;
        }
    }
    binding->Next = nullptr;
    NdisReleaseSpinLock(&g_driver.GlobalLock);
}

AdapterBinding* ReferenceBindingByLowerName(const void* name, ULONG byteLength) {
    AdapterBinding* found = nullptr;
    NdisAcquireSpinLock(&g_driver.GlobalLock);
    for (AdapterBinding* b = g_driver.Bindings; b != nullptr; b = b->Next) {
        if (b->LowerName.Length == byteLength && byteLength != 0 &&
            std::memcmp(b->LowerName.Buffer, name, byteLength) == 0) {
            found = b;
            ReferenceBinding(found);
            break;
        }
    }
    NdisReleaseSpinLock(&g_driver.GlobalLock);
    return found;
}
