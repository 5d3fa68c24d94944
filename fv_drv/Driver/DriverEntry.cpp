#include "fv_drv/Driver/DriverEntry.h"

#include "fv_drv/Driver/ControlRequests.h"
#include "fv_drv/Driver/DriverGlobals.h"
#include "fv_drv/Driver/Handlers.h"

namespace {

constexpr UCHAR kNdisMajorVersion = 4;
constexpr UCHAR kNdisMinorVersion = 0;
const WCHAR kProtocolName[] = u"Ferrovane";

NDIS_STATUS RegisterMiniport() {
    NDIS_MINIPORT_CHARACTERISTICS chars;
    chars.MajorNdisVersion = kNdisMajorVersion;
    chars.MinorNdisVersion = kNdisMinorVersion;
    chars.InitializeHandler = MiniportInitialize;
    chars.QueryInformationHandler = MiniportQueryInformation;
    chars.SetInformationHandler = MiniportSetInformation;
    chars.TransferDataHandler = MiniportTransferData;
    chars.HaltHandler = MiniportHalt;
    chars.ReturnPacketHandler = MiniportReturnPacket;
    chars.SendPacketsHandler = MiniportSendPackets;
    return NdisIMRegisterLayeredMiniport(g_driver.WrapperHandle, &chars, sizeof chars,
                                         &g_driver.DriverHandle);
}

NDIS_STATUS RegisterProtocol() {
    NDIS_PROTOCOL_CHARACTERISTICS chars;
    chars.MajorNdisVersion = kNdisMajorVersion;
    chars.MinorNdisVersion = kNdisMinorVersion;
    chars.OpenAdapterCompleteHandler = ProtocolOpenAdapterComplete;
    chars.CloseAdapterCompleteHandler = ProtocolCloseAdapterComplete;
    chars.SendCompleteHandler = ProtocolSendComplete;
    chars.TransferDataCompleteHandler = ProtocolTransferDataComplete;
    chars.ResetCompleteHandler = ProtocolResetComplete;
    chars.RequestCompleteHandler = ProtocolRequestComplete;
    chars.ReceiveHandler = ProtocolReceive;
    chars.ReceiveCompleteHandler = ProtocolReceiveComplete;
    chars.StatusHandler = ProtocolStatus;
    chars.StatusCompleteHandler = ProtocolStatusComplete;
    NdisInitUnicodeString(&chars.Name, kProtocolName);
    chars.BindAdapterHandler = ProtocolBindAdapter;
    chars.UnbindAdapterHandler = ProtocolUnbindAdapter;
    chars.UnloadHandler = ProtocolUnload;
    chars.ReceivePacketHandler = ProtocolReceivePacket;
    chars.PnPEventHandler = ProtocolPnPEvent;
    NDIS_STATUS status = NDIS_STATUS_FAILURE;
    NdisRegisterProtocol(&status, &g_driver.ProtocolHandle, &chars, sizeof chars);
    return status;
}

}  // namespace

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    ResetDriverGlobals();
    NdisAllocateSpinLock(&g_driver.GlobalLock);
    NdisMInitializeWrapper(&g_driver.WrapperHandle, driverObject, registryPath, nullptr);

    NDIS_STATUS status = RegisterMiniport();
    if (status == NDIS_STATUS_SUCCESS) {
        NdisMRegisterUnloadHandler(g_driver.WrapperHandle, DriverUnload);
        status = RegisterProtocol();
        if (status != NDIS_STATUS_SUCCESS) {
            NdisIMDeregisterLayeredMiniport(g_driver.DriverHandle);
            g_driver.DriverHandle = nullptr;
        } else {
            NdisIMAssociateMiniport(g_driver.DriverHandle, g_driver.ProtocolHandle);
            InitializeEventTable();
            PsSetCreateProcessNotifyRoutine(NamedEventsProcessNotify, FALSE);
        }
    }
    if (status != NDIS_STATUS_SUCCESS) NdisTerminateWrapper(g_driver.WrapperHandle, nullptr);
    return status;
}

void ProtocolUnload() {
    if (g_driver.ProtocolHandle == nullptr) return;
    NDIS_STATUS status;
    NdisDeregisterProtocol(&status, g_driver.ProtocolHandle);
    g_driver.ProtocolHandle = nullptr;
}

void DriverUnload(PDRIVER_OBJECT) {
    PsSetCreateProcessNotifyRoutine(NamedEventsProcessNotify, TRUE);
    ProtocolUnload();
    // Events a program left with the driver go with it.
    CloseNamedEvents();
    if (g_driver.DriverHandle != nullptr) {
        NdisIMDeregisterLayeredMiniport(g_driver.DriverHandle);
        g_driver.DriverHandle = nullptr;
    }
}
