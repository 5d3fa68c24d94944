// Media, object identifiers, requests, power states and PnP events.
#pragma once

#include "fv_contract/Oids.h"
#include "fv_drv/ndis/ndis_types.h"

using PNDIS_MEDIUM = NDIS_MEDIUM*;

inline constexpr NDIS_OID OID_GEN_MAC_OPTIONS = 0x00010113;
inline constexpr NDIS_OID OID_GEN_SUPPORTED_GUIDS = 0x00010117;
inline constexpr NDIS_OID OID_PNP_CAPABILITIES = 0xFD010100;
inline constexpr NDIS_OID OID_PNP_SET_POWER = 0xFD010101;
inline constexpr NDIS_OID OID_PNP_QUERY_POWER = 0xFD010102;

inline constexpr ULONG NDIS_MAC_OPTION_COPY_LOOKAHEAD_DATA = 0x00000001;
inline constexpr ULONG NDIS_MAC_OPTION_RECEIVE_SERIALIZED = 0x00000002;
inline constexpr ULONG NDIS_MAC_OPTION_TRANSFERS_NOT_PEND = 0x00000004;
inline constexpr ULONG NDIS_MAC_OPTION_NO_LOOPBACK = 0x00000008;

enum NDIS_REQUEST_TYPE : UINT {
    NdisRequestQueryInformation = 0,
    NdisRequestSetInformation = 1,
};

struct NDIS_REQUEST {
    UCHAR MacReserved[4 * sizeof(PVOID)] = {};
    NDIS_REQUEST_TYPE RequestType = NdisRequestQueryInformation;
    union {
        struct {
            NDIS_OID Oid;
            PVOID InformationBuffer;
            UINT InformationBufferLength;
            UINT BytesWritten;
            UINT BytesNeeded;
        } QUERY_INFORMATION;
        struct {
            NDIS_OID Oid;
            PVOID InformationBuffer;
            UINT InformationBufferLength;
            UINT BytesRead;
            UINT BytesNeeded;
        } SET_INFORMATION;
    } DATA = {};
};
using PNDIS_REQUEST = NDIS_REQUEST*;

// 1 is full power; every larger value is a low-power state.
enum NDIS_DEVICE_POWER_STATE : UINT {
    NdisDeviceStateUnspecified = 0,
    NdisDeviceStateD0 = 1,
    NdisDeviceStateD1 = 2,
    NdisDeviceStateD2 = 3,
    NdisDeviceStateD3 = 4,
};

struct NDIS_PM_WAKE_UP_CAPABILITIES {
    NDIS_DEVICE_POWER_STATE MinMagicPacketWakeUp;
    NDIS_DEVICE_POWER_STATE MinPatternWakeUp;
    NDIS_DEVICE_POWER_STATE MinLinkChangeWakeUp;
};

struct NDIS_PNP_CAPABILITIES {
    ULONG Flags;
    NDIS_PM_WAKE_UP_CAPABILITIES WakeUpCapabilities;
};
using PNDIS_PNP_CAPABILITIES = NDIS_PNP_CAPABILITIES*;
static_assert(sizeof(NDIS_PNP_CAPABILITIES) == 16);

enum NET_PNP_EVENT_CODE : UINT {
    NetEventSetPower = 0,
    NetEventQueryPower = 1,
    NetEventQueryRemoveDevice = 2,
    NetEventCancelRemoveDevice = 3,
    NetEventReconfigure = 4,
    NetEventBindList = 5,
    NetEventBindsComplete = 6,
    NetEventPnPCapabilities = 7,
};

struct NET_PNP_EVENT {
    NET_PNP_EVENT_CODE NetEvent = NetEventSetPower;
    PVOID Buffer = nullptr;
    ULONG BufferLength = 0;
};
using PNET_PNP_EVENT = NET_PNP_EVENT*;
