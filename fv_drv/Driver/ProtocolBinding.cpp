// Binding to a lower adapter and unbinding from it.
#include <iterator>

#include "fv_drv/Driver/DriverGlobals.h"
#include "fv_drv/Driver/Handlers.h"

namespace {

// Packet pools: a first block of descriptors, growing on demand up to the total.
constexpr UINT kPoolDescriptors = 255;
constexpr UINT kPoolDescriptorLimit = 65535;
// A send descriptor's protocol-reserved area refers to the sender's packet.
constexpr UINT kSendReservedSize = sizeof(PNDIS_PACKET);
// Room the protocols above may use in the packets indicated to them.
constexpr UINT kReceiveReservedSize = 16;

const WCHAR kUpperBindingsKeyword[] = u"UpperBindings";

// Offered to the lower adapter in this order.
constexpr NDIS_MEDIUM kOfferedMedia[] = {NdisMedium802_3, NdisMedium802_5, NdisMediumFddi,
                                         NdisMediumWan};

NDIS_STATUS AllocatePools(AdapterBinding* b) {
    NDIS_STATUS status;
    NdisAllocatePacketPoolEx(&status, &b->SendPacketPool, kPoolDescriptors,
                             kPoolDescriptorLimit - kPoolDescriptors, kSendReservedSize);
    if (status != NDIS_STATUS_SUCCESS) return status;
    NdisAllocatePacketPoolEx(&status, &b->ReceivePacketPool, kPoolDescriptors,
                             kPoolDescriptorLimit - kPoolDescriptors, kReceiveReservedSize);
    return status;
}

NDIS_STATUS OpenLowerAdapter(AdapterBinding* b, PNDIS_STRING deviceName) {
    NDIS_MEDIUM media[std::size(kOfferedMedia)];
    for (UINT i = 0; i < std::size(kOfferedMedia); ++i) media[i] = kOfferedMedia[i];
    NDIS_STATUS status;
    NDIS_STATUS openError;
    UINT selected = 0;
    NdisResetEvent(&b->Event);
    NdisOpenAdapter(&status, &openError, &b->BindingHandle, &selected, media,
                    UINT(std::size(media)), g_driver.ProtocolHandle, b, deviceName, 0, nullptr);
    if (status == NDIS_STATUS_PENDING) {
        NdisWaitEvent(&b->Event, 0);
        status = b->Status;
    }
    if (status != NDIS_STATUS_SUCCESS) {
        b->BindingHandle = nullptr;
        return status;
    }
    b->Medium = media[selected];
    return status;
}

}  // namespace

void ProtocolBindAdapter(PNDIS_STATUS status, NDIS_HANDLE, PNDIS_STRING deviceName,
                         PVOID systemSpecific1, PVOID) {
    NDIS_HANDLE config = nullptr;
    AdapterBinding* binding = nullptr;
    NDIS_STATUS result;
    do {
        NdisOpenProtocolConfiguration(&result, &config, static_cast<PNDIS_STRING>(systemSpecific1));
        if (result != NDIS_STATUS_SUCCESS) break;
        NDIS_STRING keyword;
        NdisInitUnicodeString(&keyword, kUpperBindingsKeyword);
        PNDIS_CONFIGURATION_PARAMETER upper = nullptr;
        NdisReadConfiguration(&result, &upper, config, &keyword, NdisParameterString);
        if (result != NDIS_STATUS_SUCCESS) break;

        binding = AllocateBinding(upper->ParameterData.StringData, *deviceName);
        if (binding == nullptr) {
            result = NDIS_STATUS_RESOURCES;
            break;
        }
        result = AllocatePools(binding);
        if (result != NDIS_STATUS_SUCCESS) break;
        result = OpenLowerAdapter(binding, deviceName);
        if (result != NDIS_STATUS_SUCCESS) break;

        NdisAcquireSpinLock(&binding->Lock);
        binding->MiniportInitPending = TRUE;
        NdisReleaseSpinLock(&binding->Lock);
        NdisResetEvent(&binding->MiniportInitEvent);
        result = NdisIMInitializeDeviceInstanceEx(g_driver.DriverHandle, &binding->VirtualName,
                                                  binding);
    } while (false);

    if (config != nullptr) NdisCloseConfiguration(config);
    if (result != NDIS_STATUS_SUCCESS && binding != nullptr) {
        if (binding->BindingHandle != nullptr) CloseLowerAdapter(binding);
        DereferenceBinding(binding);
    }
    *status = result;
}

void ProtocolOpenAdapterComplete(NDIS_HANDLE context, NDIS_STATUS status, NDIS_STATUS) {
    auto* b = static_cast<AdapterBinding*>(context);
    b->Status = status;
    NdisSetEvent(&b->Event);
}

void ProtocolCloseAdapterComplete(NDIS_HANDLE context, NDIS_STATUS status) {
    auto* b = static_cast<AdapterBinding*>(context);
    b->Status = status;
    NdisSetEvent(&b->Event);
}

void ProtocolResetComplete(NDIS_HANDLE, NDIS_STATUS) {}

void CloseLowerAdapter(AdapterBinding* b) {
    NDIS_STATUS status;
    NdisResetEvent(&b->Event);
    NdisCloseAdapter(&status, b->BindingHandle);
    if (status == NDIS_STATUS_PENDING) NdisWaitEvent(&b->Event, 0);
    b->BindingHandle = nullptr;
}

void ProtocolUnbindAdapter(PNDIS_STATUS status, NDIS_HANDLE context, NDIS_HANDLE) {
    auto* b = static_cast<AdapterBinding*>(context);

    NdisAcquireSpinLock(&b->Lock);
    b->Unbinding = TRUE;
    const bool failQueued = b->RequestQueued != 0;
    b->RequestQueued = FALSE;
    const bool initPending = b->MiniportInitPending != 0;
    NdisReleaseSpinLock(&b->Lock);
    if (failQueued) ProtocolRequestComplete(b, &b->Request, NDIS_STATUS_FAILURE);

    if (initPending) {
        if (NdisIMCancelInitializeDeviceInstance(g_driver.DriverHandle, &b->VirtualName) ==
            NDIS_STATUS_SUCCESS) {
            NdisAcquireSpinLock(&b->Lock);
            b->MiniportInitPending = FALSE;
            NdisReleaseSpinLock(&b->Lock);
        } else {
            NdisWaitEvent(&b->MiniportInitEvent, 0);
        }
    }

    if (NDIS_HANDLE miniport = b->MiniportHandle.load(); miniport != nullptr) {
        NdisIMDeInitializeDeviceInstance(miniport);  // the halt closes and releases
    } else {
        if (b->BindingHandle != nullptr) CloseLowerAdapter(b);
        DereferenceBinding(b);
    }
    *status = NDIS_STATUS_SUCCESS;
}
