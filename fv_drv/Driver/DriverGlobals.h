// Driver-wide state: handles from the wrapper, the binding list, the control device's
// registration and the named-event table.
#pragma once

#include "fv_drv/ndis/ndis.h"
#include "fv_drv/Driver/AdapterBinding.h"

// Registration state of the control device (under the global lock).
enum class ControlDeviceState : UCHAR { Ready = 0, Registering = 1, Deregistering = 2 };

enum NamedEventSlot : UINT { kBlockedEventSlot = 0, kGrantedEventSlot, kExitEventSlot, kEventSlots };

// One of the program's named events, as the driver holds it.
struct NamedEventEntry {
    NDIS_STRING Name;
    PKEVENT Object = nullptr;
    NDIS_HANDLE Handle = nullptr;
    // 1 after load and after the events are released; 0 while an object is held or after a
    // failed open.
    BOOLEAN MayCreate = FALSE;
    // The process that created the object: when it ends, the object is released.
    ULONG Creator = 0;
};

struct DriverGlobals {
    NDIS_HANDLE WrapperHandle = nullptr;
    NDIS_HANDLE ProtocolHandle = nullptr;
    NDIS_HANDLE DriverHandle = nullptr;  // the layered miniport

    // Guards the binding list and the control device's registration.
    NDIS_SPIN_LOCK GlobalLock;
    AdapterBinding* Bindings = nullptr;

    ULONG MiniportCount = 0;  // initialized virtual adapters
    ControlDeviceState DeviceState = ControlDeviceState::Ready;
    PDEVICE_OBJECT ControlDeviceObject = nullptr;
    NDIS_HANDLE ControlDeviceHandle = nullptr;

    // Guards Events: handles of several processes may create or release them at once. Taken
    // inside an adapter lock (start), never around one.
    NDIS_SPIN_LOCK EventLock;
    NamedEventEntry Events[kEventSlots];
};

extern DriverGlobals g_driver;

// Back to the state before the driver's entry ran.
void ResetDriverGlobals();
// Sets up the event names and their lock and lets each event be created once.
void InitializeEventTable();
