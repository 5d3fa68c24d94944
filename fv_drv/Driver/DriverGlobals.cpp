#include "fv_drv/Driver/DriverGlobals.h"

DriverGlobals g_driver;

namespace {
const WCHAR kBlockedEventName[] = u"\\BaseNamedObjects\\FerrovaneBlkPcktEvent";
const WCHAR kGrantedEventName[] = u"\\BaseNamedObjects\\FerrovaneGrantedPcktEvent";
const WCHAR kExitEventName[] = u"\\BaseNamedObjects\\FerrovaneExitEvent";
}  // namespace

void InitializeEventTable() {
    NdisInitUnicodeString(&g_driver.Events[kBlockedEventSlot].Name, kBlockedEventName);
    NdisInitUnicodeString(&g_driver.Events[kGrantedEventSlot].Name, kGrantedEventName);
    NdisInitUnicodeString(&g_driver.Events[kExitEventSlot].Name, kExitEventName);
    NdisAllocateSpinLock(&g_driver.EventLock);
    for (NamedEventEntry& e : g_driver.Events) e.MayCreate = TRUE;
}

void ResetDriverGlobals() {
    g_driver.WrapperHandle = nullptr;
    g_driver.ProtocolHandle = nullptr;
    g_driver.DriverHandle = nullptr;
    g_driver.Bindings = nullptr;
    g_driver.MiniportCount = 0;
    g_driver.DeviceState = ControlDeviceState::Ready;
    g_driver.ControlDeviceObject = nullptr;
    g_driver.ControlDeviceHandle = nullptr;
    for (NamedEventEntry& e : g_driver.Events) e = NamedEventEntry{};
}
