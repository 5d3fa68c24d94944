// The control device: registered with the host that serves it.
#include <algorithm>
#include <memory>
#include <mutex>

#include "fv_drv/ndis/ndis_internal.h"

using namespace ndis::detail;

NDIS_STATUS NdisMRegisterDevice(NDIS_HANDLE, PNDIS_STRING deviceName, PNDIS_STRING symbolicName,
                                PDRIVER_DISPATCH majorFunctions[], PDEVICE_OBJECT* deviceObject,
                                NDIS_HANDLE* ndisDeviceHandle) {
    *deviceObject = nullptr;
    *ndisDeviceHandle = nullptr;
    auto device = std::make_unique<DEVICE_OBJECT>();
    device->Name = FromNdisString(deviceName);
    device->SymbolicName = FromNdisString(symbolicName);
    std::copy(majorFunctions, majorFunctions + IRP_MJ_MAXIMUM_FUNCTION + 1, device->MajorFunction);
    ndis::host::DeviceHost* host;
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
    ndis::host::DeviceHost* host;
    {
        std::lock_guard guard(TheWrapper().Lock);
        host = TheWrapper().DeviceHost;
    }
    if (host != nullptr) host->DeviceRemoved(device);
    delete device;
    return NDIS_STATUS_SUCCESS;
}

namespace ndis::host {

void SetDeviceHost(DeviceHost* host) {
    std::lock_guard guard(TheWrapper().Lock);
    TheWrapper().DeviceHost = host;
}

}  // namespace ndis::host

namespace {

// The file object of the request this thread is dispatching: the process context in which names
// are opened.
thread_local PFILE_OBJECT t_currentFileObject = nullptr;

// "\BaseNamedObjects\X" as the plain name "X"; false for other directories and non-ASCII names.
bool PlainEventName(const std::u16string& kernelName, std::string* plain) {
    const std::u16string_view directory(kNamedObjectDirectory);
    if (kernelName.size() <= directory.size() || !kernelName.starts_with(directory)) return false;
    plain->clear();
    for (char16_t c : std::u16string_view(kernelName).substr(directory.size())) {
        if (c == 0 || c >= 0x80) return false;
        plain->push_back(char(c));
    }
    return true;
}

}  // namespace

PKEVENT IoCreateNotificationEvent(PUNICODE_STRING eventName, PHANDLE eventHandle) {
    *eventHandle = nullptr;
    PFILE_OBJECT file = t_currentFileObject;
    std::string plain;
    if (file == nullptr || eventName == nullptr || !PlainEventName(FromNdisString(eventName), &plain)) {
        return nullptr;
    }
    for (const FILE_OBJECT_EVENT& e : file->Events) {
        if (e.Name != plain) continue;
        PKEVENT event = ndis::host::CreateEventObject(e.Fd);
        *eventHandle = event;  // the handle is the reference the event starts with
        return event;
    }
    return nullptr;
}

NTSTATUS ZwClose(HANDLE handle) {
    if (handle == nullptr) return STATUS_INVALID_HANDLE;
    ObDereferenceObject(static_cast<PKEVENT>(handle));
    return STATUS_SUCCESS;
}

namespace ndis::host {

NTSTATUS DispatchIrp(PDEVICE_OBJECT device, PIRP irp) {
    const UCHAR major = irp->Stack.MajorFunction;
    PDRIVER_DISPATCH routine = major <= IRP_MJ_MAXIMUM_FUNCTION ? device->MajorFunction[major]
                                                                 : nullptr;
    if (routine == nullptr) {
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        irp->IoStatus.Information = 0;
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    // Requests may nest only through other devices; restore what was current.
    PFILE_OBJECT previous = t_currentFileObject;
    t_currentFileObject = irp->Stack.FileObject;
    const NTSTATUS status = routine(device, irp);
    t_currentFileObject = previous;
    return status;
}

}  // namespace ndis::host

namespace {

std::mutex g_processNotifyLock;  // held while the routine runs, so removal waits for it
PCREATE_PROCESS_NOTIFY_ROUTINE g_processNotify = nullptr;

}  // namespace

NTSTATUS PsSetCreateProcessNotifyRoutine(PCREATE_PROCESS_NOTIFY_ROUTINE routine, BOOLEAN remove) {
    std::lock_guard guard(g_processNotifyLock);
    if (remove) {
        if (g_processNotify != routine) return STATUS_INVALID_PARAMETER;
        g_processNotify = nullptr;
        return STATUS_SUCCESS;
    }
    if (g_processNotify != nullptr && g_processNotify != routine) return STATUS_INVALID_PARAMETER;
    g_processNotify = routine;
    return STATUS_SUCCESS;
}

namespace ndis::host {

void ProcessEnded(ULONG processId) {
    std::lock_guard guard(g_processNotifyLock);
    if (g_processNotify != nullptr) {
        g_processNotify(nullptr, reinterpret_cast<HANDLE>(ULONG_PTR(processId)), FALSE);
    }
}

}  // namespace ndis::host
