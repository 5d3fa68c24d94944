// The control device: registered with the host that serves it.
#include <algorithm>
#include <memory>

#include "ndis_internal.h"

using namespace ndis_detail;

NDIS_STATUS NdisMRegisterDevice(NDIS_HANDLE, PNDIS_STRING deviceName, PNDIS_STRING symbolicName,
                                PDRIVER_DISPATCH majorFunctions[], PDEVICE_OBJECT* deviceObject,
                                NDIS_HANDLE* ndisDeviceHandle) {
    *deviceObject = nullptr;
    *ndisDeviceHandle = nullptr;
    auto device = std::make_unique<DEVICE_OBJECT>();
    device->Name = FromNdisString(deviceName);
    device->SymbolicName = FromNdisString(symbolicName);
    std::copy(majorFunctions, majorFunctions + IRP_MJ_MAXIMUM_FUNCTION + 1, device->MajorFunction);
    ndis_host::DeviceHost* host;
    {
        std::lock_guard guard(TheWrapper().Lock);
        host = TheWrapper().DeviceHost;
    }
    if (host != nullptr) {
        const NDIS_STATUS status = host->DeviceAdded(device.get());
        if (status != NDIS_STATUS_SUCCESS) return status;
    }
    *deviceObject = device.get();
    *ndisDeviceHandle = device.release();
    return NDIS_STATUS_SUCCESS;
}

NDIS_STATUS NdisMDeregisterDevice(NDIS_HANDLE ndisDeviceHandle) {
    auto* device = static_cast<PDEVICE_OBJECT>(ndisDeviceHandle);
    if (device == nullptr) return NDIS_STATUS_FAILURE;
    ndis_host::DeviceHost* host;
    {
        std::lock_guard guard(TheWrapper().Lock);
        host = TheWrapper().DeviceHost;
    }
    if (host != nullptr) host->DeviceRemoved(device);
    delete device;
    return NDIS_STATUS_SUCCESS;
}

namespace ndis_host {

void SetDeviceHost(DeviceHost* host) {
    std::lock_guard guard(TheWrapper().Lock);
    TheWrapper().DeviceHost = host;
}

}  // namespace ndis_host
