// Registration of the control device, counted over the initialized virtual adapters. A
// registration or removal in progress finishes before the next one starts.
#include "fv_drv/Driver/ControlDevice.h"
#include "fv_drv/Driver/DriverGlobals.h"

namespace {

const WCHAR kDeviceName[] = u"\\Device\\Ferrovane";
const WCHAR kSymbolicName[] = u"\\DosDevices\\Ferrovane";
constexpr ULONG kRetryMicroseconds = 1;

// Called and returns with the global lock held; may drop it while waiting.
void WaitUntilReady() {
    while (g_driver.DeviceState != ControlDeviceState::Ready) {
        NdisReleaseSpinLock(&g_driver.GlobalLock);
        NdisMSleep(kRetryMicroseconds);
        NdisAcquireSpinLock(&g_driver.GlobalLock);
    }
}

}  // namespace

void RegisterControlDevice() {
    NdisAcquireSpinLock(&g_driver.GlobalLock);
    ++g_driver.MiniportCount;
    // Every adapter waits, not only the first: a second one initializing while the first is
    // still registering must find the device registered rather than register it again.
    WaitUntilReady();
    // Another adapter may have registered the device while this one waited.
    if (g_driver.MiniportCount != 0 && g_driver.ControlDeviceHandle == nullptr) {
        g_driver.DeviceState = ControlDeviceState::Registering;
        NdisReleaseSpinLock(&g_driver.GlobalLock);

        PDRIVER_DISPATCH dispatch[IRP_MJ_MAXIMUM_FUNCTION + 1] = {};
        dispatch[IRP_MJ_CREATE] = ControlDeviceDispatch;
        dispatch[IRP_MJ_CLEANUP] = ControlDeviceDispatch;
        dispatch[IRP_MJ_CLOSE] = ControlDeviceDispatch;
        dispatch[IRP_MJ_DEVICE_CONTROL] = ControlDeviceDispatch;
        NDIS_STRING deviceName;
        NDIS_STRING symbolicName;
        NdisInitUnicodeString(&deviceName, kDeviceName);
        NdisInitUnicodeString(&symbolicName, kSymbolicName);
        PDEVICE_OBJECT device = nullptr;
        NDIS_HANDLE handle = nullptr;
        // A failed registration leaves the adapters working without a control device.
        const NDIS_STATUS status = NdisMRegisterDevice(g_driver.WrapperHandle, &deviceName,
                                                       &symbolicName, dispatch, &device, &handle);

        NdisAcquireSpinLock(&g_driver.GlobalLock);
        if (status == NDIS_STATUS_SUCCESS) {
            g_driver.ControlDeviceObject = device;
            g_driver.ControlDeviceHandle = handle;
        }
        g_driver.DeviceState = ControlDeviceState::Ready;
    }
    NdisReleaseSpinLock(&g_driver.GlobalLock);
}

void DeregisterControlDevice() {
    NdisAcquireSpinLock(&g_driver.GlobalLock);
    if (g_driver.MiniportCount != 0) --g_driver.MiniportCount;
    WaitUntilReady();
    // An adapter may have initialized while this one waited: then the device stays.
    if (g_driver.MiniportCount == 0 && g_driver.ControlDeviceHandle != nullptr) {
        NDIS_HANDLE handle = g_driver.ControlDeviceHandle;
        {
            g_driver.DeviceState = ControlDeviceState::Deregistering;
            g_driver.ControlDeviceHandle = nullptr;
            g_driver.ControlDeviceObject = nullptr;
            NdisReleaseSpinLock(&g_driver.GlobalLock);
            NdisMDeregisterDevice(handle);
            NdisAcquireSpinLock(&g_driver.GlobalLock);
            g_driver.DeviceState = ControlDeviceState::Ready;
        }
    }
    NdisReleaseSpinLock(&g_driver.GlobalLock);
}
