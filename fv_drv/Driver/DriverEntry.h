// Loading and unloading the driver.
#pragma once

#include "fv_drv/ndis/ndis.h"

// Registers the virtual-adapter miniport and the "Ferrovane" protocol and associates them.
NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
// Deregisters the protocol, then the miniport.
void DriverUnload(PDRIVER_OBJECT driverObject);
