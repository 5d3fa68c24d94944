// The NDIS stand-in: the calls and types the driver code uses, under NDIS's own names.
#pragma once

#include "ke_event.h"
#include "ndis_config.h"
#include "ndis_device.h"
#include "ndis_event.h"
#include "ndis_lock.h"
#include "ndis_memory.h"
#include "ndis_miniport.h"
#include "ndis_oid.h"
#include "ndis_packet.h"
#include "ndis_protocol.h"
#include "ndis_types.h"
