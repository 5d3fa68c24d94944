// The miniport edge of an intermediate driver: wrapper, layered-miniport registration, virtual
// adapter instances and the indications a miniport makes to the protocols bound above it.
#pragma once

#include "fv_drv/ndis/ndis_device.h"
#include "fv_drv/ndis/ndis_oid.h"
#include "fv_drv/ndis/ndis_packet.h"
#include "fv_drv/ndis/ndis_types.h"

using PPNDIS_PACKET = PNDIS_PACKET*;

struct NDIS_MINIPORT_CHARACTERISTICS {
    UCHAR MajorNdisVersion = 0;
    UCHAR MinorNdisVersion = 0;
    NDIS_STATUS (*InitializeHandler)(PNDIS_STATUS openErrorStatus, PUINT selectedMediumIndex,
                                     PNDIS_MEDIUM mediumArray, UINT mediumArraySize,
                                     NDIS_HANDLE miniportAdapterHandle,
                                     NDIS_HANDLE wrapperConfigurationContext) = nullptr;
    NDIS_STATUS (*QueryInformationHandler)(NDIS_HANDLE miniportAdapterContext, NDIS_OID oid,
                                           PVOID informationBuffer,
                                           ULONG informationBufferLength, PULONG bytesWritten,
                                           PULONG bytesNeeded) = nullptr;
    NDIS_STATUS (*SetInformationHandler)(NDIS_HANDLE miniportAdapterContext, NDIS_OID oid,
                                         PVOID informationBuffer, ULONG informationBufferLength,
                                         PULONG bytesRead, PULONG bytesNeeded) = nullptr;
    NDIS_STATUS (*TransferDataHandler)(PNDIS_PACKET packet, PUINT bytesTransferred,
                                       NDIS_HANDLE miniportAdapterContext,
                                       NDIS_HANDLE miniportReceiveContext, UINT byteOffset,
                                       UINT bytesToTransfer) = nullptr;
    void (*HaltHandler)(NDIS_HANDLE miniportAdapterContext) = nullptr;
    void (*ReturnPacketHandler)(NDIS_HANDLE miniportAdapterContext, PNDIS_PACKET packet) = nullptr;
    void (*SendPacketsHandler)(NDIS_HANDLE miniportAdapterContext, PPNDIS_PACKET packetArray,
                               UINT numberOfPackets) = nullptr;
};
using PNDIS_MINIPORT_CHARACTERISTICS = NDIS_MINIPORT_CHARACTERISTICS*;

inline constexpr ULONG NDIS_ATTRIBUTE_IGNORE_PACKET_TIMEOUT = 0x00000001;
inline constexpr ULONG NDIS_ATTRIBUTE_IGNORE_REQUEST_TIMEOUT = 0x00000002;
inline constexpr ULONG NDIS_ATTRIBUTE_INTERMEDIATE_DRIVER = 0x00000010;
inline constexpr ULONG NDIS_ATTRIBUTE_DESERIALIZE = 0x00000020;
inline constexpr ULONG NDIS_ATTRIBUTE_NO_HALT_ON_SUSPEND = 0x00000040;

enum NDIS_INTERFACE_TYPE : INT { NdisInterfaceInternal = 0 };

// Wrapper: one per driver.
void NdisMInitializeWrapper(PNDIS_HANDLE ndisWrapperHandle, PVOID systemSpecific1,
                            PVOID systemSpecific2, PVOID systemSpecific3);
void NdisTerminateWrapper(NDIS_HANDLE ndisWrapperHandle, PVOID systemSpecific);
NDIS_STATUS NdisIMRegisterLayeredMiniport(NDIS_HANDLE ndisWrapperHandle,
                                          PNDIS_MINIPORT_CHARACTERISTICS characteristics,
                                          UINT characteristicsLength, PNDIS_HANDLE driverHandle);
void NdisIMDeregisterLayeredMiniport(NDIS_HANDLE driverHandle);
void NdisMRegisterUnloadHandler(NDIS_HANDLE ndisWrapperHandle, PDRIVER_UNLOAD unloadHandler);
void NdisIMAssociateMiniport(NDIS_HANDLE driverHandle, NDIS_HANDLE protocolHandle);

// Virtual adapter instances. Initialization runs the miniport's initialize handler before the
// call returns; protocols above can bind to the instance by name once it succeeded.
NDIS_STATUS NdisIMInitializeDeviceInstanceEx(NDIS_HANDLE driverHandle,
                                             PNDIS_STRING driverInstance,
                                             NDIS_HANDLE deviceContext);
// NDIS_STATUS_SUCCESS only when the instance had not started initializing yet.
NDIS_STATUS NdisIMCancelInitializeDeviceInstance(NDIS_HANDLE driverHandle,
                                                 PNDIS_STRING deviceInstance);
// Unbinds the protocols above, then calls the halt handler.
NDIS_STATUS NdisIMDeInitializeDeviceInstance(NDIS_HANDLE ndisMiniportHandle);
NDIS_HANDLE NdisIMGetDeviceContext(NDIS_HANDLE miniportAdapterHandle);
void NdisMSetAttributesEx(NDIS_HANDLE miniportAdapterHandle, NDIS_HANDLE miniportAdapterContext,
                          UINT checkForHangTimeInSeconds, ULONG attributeFlags,
                          NDIS_INTERFACE_TYPE adapterType);

// Indications and completions to the protocols bound above the virtual adapter.
void NdisMSendComplete(NDIS_HANDLE miniportAdapterHandle, PNDIS_PACKET packet, NDIS_STATUS status);
// A packet whose status is NDIS_STATUS_RESOURCES belongs to the miniport again on return;
// any other is held until it comes back through the return-packet handler.
void NdisMIndicateReceivePacket(NDIS_HANDLE miniportAdapterHandle, PPNDIS_PACKET packetArray,
                                UINT numberOfPackets);
void NdisMEthIndicateReceive(NDIS_HANDLE miniportAdapterHandle, NDIS_HANDLE miniportReceiveContext,
                             PVOID headerBuffer, UINT headerBufferSize, PVOID lookaheadBuffer,
                             UINT lookaheadBufferSize, UINT packetSize);
void NdisMTrIndicateReceive(NDIS_HANDLE miniportAdapterHandle, NDIS_HANDLE miniportReceiveContext,
                            PVOID headerBuffer, UINT headerBufferSize, PVOID lookaheadBuffer,
                            UINT lookaheadBufferSize, UINT packetSize);
// The addresses follow the frame-control byte; its 0x40 bit selects 6-byte over 2-byte ones.
void NdisMFddiIndicateReceive(NDIS_HANDLE miniportAdapterHandle,
                              NDIS_HANDLE miniportReceiveContext, PVOID headerBuffer,
                              UINT headerBufferSize, PVOID lookaheadBuffer,
                              UINT lookaheadBufferSize, UINT packetSize);
void NdisMEthIndicateReceiveComplete(NDIS_HANDLE miniportAdapterHandle);
void NdisMTrIndicateReceiveComplete(NDIS_HANDLE miniportAdapterHandle);
void NdisMFddiIndicateReceiveComplete(NDIS_HANDLE miniportAdapterHandle);
void NdisMQueryInformationComplete(NDIS_HANDLE miniportAdapterHandle, NDIS_STATUS status);
void NdisMSetInformationComplete(NDIS_HANDLE miniportAdapterHandle, NDIS_STATUS status);
void NdisMIndicateStatus(NDIS_HANDLE miniportAdapterHandle, NDIS_STATUS generalStatus,
                         PVOID statusBuffer, UINT statusBufferSize);
void NdisMIndicateStatusComplete(NDIS_HANDLE miniportAdapterHandle);
void NdisMTransferDataComplete(NDIS_HANDLE miniportAdapterHandle, PNDIS_PACKET packet,
                               NDIS_STATUS status, UINT bytesTransferred);
