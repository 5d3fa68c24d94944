// The NDIS stand-in: the calls and types the driver code uses, under NDIS's own names.
#pragma once

#include "fv_drv/ndis/ke_event.h"
#include "fv_drv/ndis/ndis_config.h"
#include "fv_drv/ndis/ndis_device.h"
#include "fv_drv/ndis/ndis_event.h"
#include "fv_drv/ndis/ndis_lock.h"
#include "fv_drv/ndis/ndis_memory.h"
#include "fv_drv/ndis/ndis_miniport.h"
#include "fv_drv/ndis/ndis_oid.h"
#include "fv_drv/ndis/ndis_packet.h"
#include "fv_drv/ndis/ndis_protocol.h"
#include "fv_drv/ndis/ndis_types.h"
