#include "fv_drv/Driver/OpenContext.h"

#include <new>

OpenContext* AllocateOpenContext(AdapterBinding* binding) {
    PVOID memory = nullptr;
    if (NdisAllocateMemoryWithTag(&memory, UINT(sizeof(OpenContext)), kDriverPoolTag) !=
        NDIS_STATUS_SUCCESS) {
        return nullptr;
    }
    auto* context = new (memory) OpenContext;
    NdisAllocateSpinLock(&context->Lock);
    NdisInitializeEvent(&context->QueryDone);
    context->Binding = binding;
    return context;
}

void ReferenceOpenContext(OpenContext* context) {
    NdisInterlockedIncrement(&context->References);
    ReferenceBinding(context->Binding);
}

void DereferenceOpenContext(OpenContext* context) {
    AdapterBinding* binding = context->Binding;
    if (NdisInterlockedDecrement(&context->References) == 0) {
        NdisFreeSpinLock(&context->Lock);
        context->~OpenContext();
        NdisFreeMemory(context, UINT(sizeof(OpenContext)), 0);
    }
    DereferenceBinding(binding);
}
