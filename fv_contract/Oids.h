// The adapter queries the program passes through the control device, and the media it decodes.
#pragma once

#include <cstdint>

enum NDIS_MEDIUM : std::uint32_t {
    NdisMedium802_3 = 0,
    NdisMedium802_5 = 1,
    NdisMediumFddi = 2,
    NdisMediumWan = 3,
};

using NDIS_OID = std::uint32_t;
inline constexpr NDIS_OID OID_GEN_MEDIA_IN_USE = 0x00010104;
inline constexpr NDIS_OID OID_GEN_VENDOR_DESCRIPTION = 0x0001010D;
inline constexpr NDIS_OID OID_802_3_CURRENT_ADDRESS = 0x01010102;
// The number the program asks an FDDI adapter for its address with.
inline constexpr NDIS_OID OID_FDDI_LONG_CURRENT_ADDR = 0x04010102;
