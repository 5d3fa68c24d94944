// The control device: registered while at least one virtual adapter is initialized.
#pragma once

#include "fv_drv/ndis/ndis.h"

// A virtual adapter has initialized: the first one registers the device.
void RegisterControlDevice();
// A virtual adapter has halted: the last one removes the device.
void DeregisterControlDevice();

// Serves every request on the device (create, cleanup, close, device control).
NTSTATUS ControlDeviceDispatch(PDEVICE_OBJECT deviceObject, PIRP irp);
