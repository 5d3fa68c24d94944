// A blocked-packet record as the program passes it on: the driver's record with the address in
// host order, the description of its range and the dotted address.
#pragma once

#include <cstddef>

#include "fv_contract/PacketEventRecord.h"

namespace fv {

struct BlockedPacketView {
    PacketEventRecord packet;  // remoteAddress in host order; ports in network order
    char description[1024];    // NUL-terminated
    char addressText[20];      // NUL-terminated dotted decimal
};
static_assert(sizeof(BlockedPacketView) == 1056);
static_assert(offsetof(BlockedPacketView, description) == 12);
static_assert(offsetof(BlockedPacketView, addressText) == 1036);

}  // namespace fv
