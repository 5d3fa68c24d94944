// What the driver keeps in the descriptors it allocates: a reference to the packet it stands for.
#pragma once

#include "fv_drv/ndis/ndis.h"

// Send descriptors (protocol-reserved area): the sender's packet from above.
struct SendReserved {
    PNDIS_PACKET Original;
};

// Receive descriptors (miniport-reserved area; the protocol-reserved area belongs to the
// protocols above): the packet the lower adapter indicated.
struct ReceiveReserved {
    PNDIS_PACKET Original;
};
static_assert(sizeof(SendReserved) <= sizeof(NDIS_PACKET::ProtocolReserved));
static_assert(sizeof(ReceiveReserved) <= sizeof(NDIS_PACKET::MiniportReserved));

inline SendReserved* SendReservedOf(PNDIS_PACKET p) {
    return reinterpret_cast<SendReserved*>(p->ProtocolReserved);
}
inline ReceiveReserved* ReceiveReservedOf(PNDIS_PACKET p) {
    return reinterpret_cast<ReceiveReserved*>(p->MiniportReserved);
}

// Makes a descriptor of ours share `from`'s buffer chain and carry its flags and out-of-band
// data (header size, status, media-specific information).
inline void ShareFrame(PNDIS_PACKET to, PNDIS_PACKET from) {
    NDIS_PACKET_FIRST_NDIS_BUFFER(to) = NDIS_PACKET_FIRST_NDIS_BUFFER(from);
    NDIS_PACKET_LAST_NDIS_BUFFER(to) = NDIS_PACKET_LAST_NDIS_BUFFER(from);
    NdisSetPacketFlags(to, NdisGetPacketFlags(from));
    NdisMoveMemory(NDIS_OOB_DATA_FROM_PACKET(to), NDIS_OOB_DATA_FROM_PACKET(from),
                   sizeof(NDIS_PACKET_OOB_DATA));
}
