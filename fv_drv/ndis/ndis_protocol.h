// The protocol edge of an intermediate driver: registration, binding to lower adapters and the
// calls a protocol makes on an open binding.
#pragma once

#include "fv_drv/ndis/ndis_oid.h"
#include "fv_drv/ndis/ndis_packet.h"
#include "fv_drv/ndis/ndis_types.h"

struct NDIS_PROTOCOL_CHARACTERISTICS {
    UCHAR MajorNdisVersion = 0;
    UCHAR MinorNdisVersion = 0;
    void (*OpenAdapterCompleteHandler)(NDIS_HANDLE protocolBindingContext, NDIS_STATUS status,
                                       NDIS_STATUS openErrorStatus) = nullptr;
    void (*CloseAdapterCompleteHandler)(NDIS_HANDLE protocolBindingContext,
                                        NDIS_STATUS status) = nullptr;
    void (*SendCompleteHandler)(NDIS_HANDLE protocolBindingContext, PNDIS_PACKET packet,
                                NDIS_STATUS status) = nullptr;
    void (*TransferDataCompleteHandler)(NDIS_HANDLE protocolBindingContext, PNDIS_PACKET packet,
                                        NDIS_STATUS status, UINT bytesTransferred) = nullptr;
    void (*ResetCompleteHandler)(NDIS_HANDLE protocolBindingContext, NDIS_STATUS status) = nullptr;
    void (*RequestCompleteHandler)(NDIS_HANDLE protocolBindingContext, PNDIS_REQUEST request,
                                   NDIS_STATUS status) = nullptr;
    NDIS_STATUS (*ReceiveHandler)(NDIS_HANDLE protocolBindingContext,
                                  NDIS_HANDLE macReceiveContext, PVOID headerBuffer,
                                  UINT headerBufferSize, PVOID lookAheadBuffer,
                                  UINT lookaheadBufferSize, UINT packetSize) = nullptr;
    void (*ReceiveCompleteHandler)(NDIS_HANDLE protocolBindingContext) = nullptr;
    void (*StatusHandler)(NDIS_HANDLE protocolBindingContext, NDIS_STATUS generalStatus,
                          PVOID statusBuffer, UINT statusBufferSize) = nullptr;
    void (*StatusCompleteHandler)(NDIS_HANDLE protocolBindingContext) = nullptr;
    NDIS_STRING Name;
    void (*BindAdapterHandler)(PNDIS_STATUS status, NDIS_HANDLE bindContext,
                               PNDIS_STRING deviceName, PVOID systemSpecific1,
                               PVOID systemSpecific2) = nullptr;
    void (*UnbindAdapterHandler)(PNDIS_STATUS status, NDIS_HANDLE protocolBindingContext,
                                 NDIS_HANDLE unbindContext) = nullptr;
    void (*UnloadHandler)() = nullptr;
    // Returns how many holders keep the packet (they give it back with NdisReturnPackets).
    INT (*ReceivePacketHandler)(NDIS_HANDLE protocolBindingContext, PNDIS_PACKET packet) = nullptr;
    // The binding context is none for events about the protocol as a whole.
    NDIS_STATUS (*PnPEventHandler)(NDIS_HANDLE protocolBindingContext,
                                   PNET_PNP_EVENT netPnPEvent) = nullptr;
};
using PNDIS_PROTOCOL_CHARACTERISTICS = NDIS_PROTOCOL_CHARACTERISTICS*;

// Lower adapters present at registration are bound once the driver's entry has returned.
void NdisRegisterProtocol(PNDIS_STATUS status, PNDIS_HANDLE ndisProtocolHandle,
                          PNDIS_PROTOCOL_CHARACTERISTICS protocolCharacteristics,
                          UINT characteristicsLength);
// Unbinds whatever is still bound, then forgets the protocol.
void NdisDeregisterProtocol(PNDIS_STATUS status, NDIS_HANDLE ndisProtocolHandle);
// Binds the protocol to every present lower adapter it is not bound to yet.
void NdisReEnumerateProtocolBindings(NDIS_HANDLE ndisProtocolHandle);

// Picks the first offered medium the adapter uses (none: NDIS_STATUS_UNSUPPORTED_MEDIA).
// NDIS_STATUS_PENDING: the open-complete handler reports the result.
void NdisOpenAdapter(PNDIS_STATUS status, PNDIS_STATUS openErrorStatus,
                     PNDIS_HANDLE ndisBindingHandle, PUINT selectedMediumIndex,
                     PNDIS_MEDIUM mediumArray, UINT mediumArraySize,
                     NDIS_HANDLE ndisProtocolHandle, NDIS_HANDLE protocolBindingContext,
                     PNDIS_STRING adapterName, UINT openOptions, PVOID addressingInformation);
// NDIS_STATUS_PENDING: the close-complete handler reports it; the handle is gone afterwards.
void NdisCloseAdapter(PNDIS_STATUS status, NDIS_HANDLE ndisBindingHandle);
void NdisSend(PNDIS_STATUS status, NDIS_HANDLE ndisBindingHandle, PNDIS_PACKET packet);
void NdisRequest(PNDIS_STATUS status, NDIS_HANDLE ndisBindingHandle, PNDIS_REQUEST ndisRequest);
void NdisTransferData(PNDIS_STATUS status, NDIS_HANDLE ndisBindingHandle,
                      NDIS_HANDLE macReceiveContext, UINT byteOffset, UINT bytesToTransfer,
                      PNDIS_PACKET packet, PUINT bytesTransferred);
// Gives held received packets back to the adapters that indicated them.
void NdisReturnPackets(PNDIS_PACKET* packetsToReturn, UINT numberOfPackets);
// The descriptor behind a look-ahead indication in progress on this thread, or none.
PNDIS_PACKET NdisGetReceivedPacket(NDIS_HANDLE ndisBindingHandle, NDIS_HANDLE macContext);
