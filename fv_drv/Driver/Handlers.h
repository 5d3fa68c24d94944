// The handlers the driver registers with NDIS for its miniport edge (the virtual adapters)
// and its protocol edge (the bindings to lower adapters).
#pragma once

#include "fv_drv/ndis/ndis.h"

// Miniport edge.
NDIS_STATUS MiniportInitialize(PNDIS_STATUS openErrorStatus, PUINT selectedMediumIndex,
                               PNDIS_MEDIUM mediumArray, UINT mediumArraySize,
                               NDIS_HANDLE miniportAdapterHandle,
                               NDIS_HANDLE wrapperConfigurationContext);
void MiniportHalt(NDIS_HANDLE miniportAdapterContext);
void MiniportSendPackets(NDIS_HANDLE miniportAdapterContext, PPNDIS_PACKET packetArray,
                         UINT numberOfPackets);
void MiniportReturnPacket(NDIS_HANDLE miniportAdapterContext, PNDIS_PACKET packet);
NDIS_STATUS MiniportTransferData(PNDIS_PACKET packet, PUINT bytesTransferred,
                                 NDIS_HANDLE miniportAdapterContext,
                                 NDIS_HANDLE miniportReceiveContext, UINT byteOffset,
                                 UINT bytesToTransfer);
NDIS_STATUS MiniportQueryInformation(NDIS_HANDLE miniportAdapterContext, NDIS_OID oid,
                                     PVOID informationBuffer, ULONG informationBufferLength,
                                     PULONG bytesWritten, PULONG bytesNeeded);
NDIS_STATUS MiniportSetInformation(NDIS_HANDLE miniportAdapterContext, NDIS_OID oid,
                                   PVOID informationBuffer, ULONG informationBufferLength,
                                   PULONG bytesRead, PULONG bytesNeeded);

// Protocol edge.
void ProtocolBindAdapter(PNDIS_STATUS status, NDIS_HANDLE bindContext, PNDIS_STRING deviceName,
                         PVOID systemSpecific1, PVOID systemSpecific2);
void ProtocolUnbindAdapter(PNDIS_STATUS status, NDIS_HANDLE protocolBindingContext,
                           NDIS_HANDLE unbindContext);
void ProtocolOpenAdapterComplete(NDIS_HANDLE protocolBindingContext, NDIS_STATUS status,
                                 NDIS_STATUS openErrorStatus);
void ProtocolCloseAdapterComplete(NDIS_HANDLE protocolBindingContext, NDIS_STATUS status);
void ProtocolResetComplete(NDIS_HANDLE protocolBindingContext, NDIS_STATUS status);
void ProtocolUnload();
void ProtocolSendComplete(NDIS_HANDLE protocolBindingContext, PNDIS_PACKET packet,
                          NDIS_STATUS status);
INT ProtocolReceivePacket(NDIS_HANDLE protocolBindingContext, PNDIS_PACKET packet);
NDIS_STATUS ProtocolReceive(NDIS_HANDLE protocolBindingContext, NDIS_HANDLE macReceiveContext,
                            PVOID headerBuffer, UINT headerBufferSize, PVOID lookAheadBuffer,
                            UINT lookaheadBufferSize, UINT packetSize);
void ProtocolReceiveComplete(NDIS_HANDLE protocolBindingContext);
void ProtocolTransferDataComplete(NDIS_HANDLE protocolBindingContext, PNDIS_PACKET packet,
                                  NDIS_STATUS status, UINT bytesTransferred);
void ProtocolRequestComplete(NDIS_HANDLE protocolBindingContext, PNDIS_REQUEST request,
                             NDIS_STATUS status);
void ProtocolStatus(NDIS_HANDLE protocolBindingContext, NDIS_STATUS generalStatus,
                    PVOID statusBuffer, UINT statusBufferSize);
void ProtocolStatusComplete(NDIS_HANDLE protocolBindingContext);
NDIS_STATUS ProtocolPnPEvent(NDIS_HANDLE protocolBindingContext, PNET_PNP_EVENT netPnPEvent);

// Shared between the paths.
struct AdapterBinding;
// Sends the binding's own request block down and completes it at once if it did not pend.
void SendBindingRequest(AdapterBinding* binding);
// Waits until every send and the request passed down have completed.
void WaitForOutstandingWork(AdapterBinding* binding);
// Closes the lower binding, waiting for the close to complete.
void CloseLowerAdapter(AdapterBinding* binding);
