// Driver objects, the control device and the I/O requests that reach it.
//
// NdisMRegisterDevice hands the device to the host (ferrovane-sys), which serves it on the
// control socket and calls the registered dispatch routines with one IRP per request. The
// host learns about the device through a DeviceHost it installs before loading the driver.
#pragma once

#include <string>
#include <vector>

#include "fv_drv/ndis/ke_event.h"
#include "fv_drv/ndis/ndis_types.h"

struct DRIVER_OBJECT;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PDRIVER_UNLOAD = void (*)(PDRIVER_OBJECT driverObject);

struct DRIVER_OBJECT {
    PDRIVER_UNLOAD DriverUnload = nullptr;
};

inline constexpr UCHAR IRP_MJ_CREATE = 0x00;
inline constexpr UCHAR IRP_MJ_CLOSE = 0x02;
inline constexpr UCHAR IRP_MJ_DEVICE_CONTROL = 0x0e;
inline constexpr UCHAR IRP_MJ_CLEANUP = 0x12;
inline constexpr UCHAR IRP_MJ_MAXIMUM_FUNCTION = 0x1b;

// A named event of the process that opened a handle, under its plain name ("FerrovaneExitEvent").
// The descriptor belongs to the host and stays open for the handle's life.
struct FILE_OBJECT_EVENT {
    std::string Name;
    int Fd = -1;
};

// One open handle of the device; the driver keeps its per-handle state in the contexts.
struct FILE_OBJECT {
    PVOID FsContext = nullptr;
    PVOID FsContext2 = nullptr;
    // The opener's named events: what IoCreateNotificationEvent finds while a request of this
    // handle is dispatched. Filled by the host before the create request.
    std::vector<FILE_OBJECT_EVENT> Events;
};
using PFILE_OBJECT = FILE_OBJECT*;

struct IO_STATUS_BLOCK {
    NTSTATUS Status = 0;
    ULONG_PTR Information = 0;
};

struct IO_STACK_LOCATION {
    UCHAR MajorFunction = 0;
    PFILE_OBJECT FileObject = nullptr;
    struct {
        ULONG OutputBufferLength = 0;
        ULONG InputBufferLength = 0;
        ULONG IoControlCode = 0;
    } DeviceIoControl;
};
using PIO_STACK_LOCATION = IO_STACK_LOCATION*;

// Buffered I/O: input and output share SystemBuffer, which holds max(input, output) bytes.
struct IRP {
    IO_STATUS_BLOCK IoStatus;
    PVOID SystemBuffer = nullptr;
    IO_STACK_LOCATION Stack;
    ULONG RequestorProcessId = 0;  // set by the host; 0 when it cannot tell
};
using PIRP = IRP*;

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) { return &irp->Stack; }
inline ULONG IoGetRequestorProcessId(PIRP irp) { return irp->RequestorProcessId; }

// Called when a process ends (create FALSE). Here only processes the host watches are reported:
// those that made a request the host watches their end for. Ids are process ids as handles.
using PCREATE_PROCESS_NOTIFY_ROUTINE = void (*)(HANDLE parentId, HANDLE processId, BOOLEAN create);
// Adds the routine, or removes it (waiting for a call in progress). One routine at a time.
NTSTATUS PsSetCreateProcessNotifyRoutine(PCREATE_PROCESS_NOTIFY_ROUTINE routine, BOOLEAN remove);
// Requests complete synchronously here; the host reads IoStatus after the dispatch returns.
inline void IoCompleteRequest(PIRP, KPRIORITY) {}

struct DEVICE_OBJECT;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
using PDRIVER_DISPATCH = NTSTATUS (*)(PDEVICE_OBJECT deviceObject, PIRP irp);

struct DEVICE_OBJECT {
    std::u16string Name;          // e.g. u"\\Device\\Ferrovane"
    std::u16string SymbolicName;  // e.g. u"\\DosDevices\\Ferrovane"
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1] = {};
};

NDIS_STATUS NdisMRegisterDevice(NDIS_HANDLE ndisWrapperHandle, PNDIS_STRING deviceName,
                                PNDIS_STRING symbolicName, PDRIVER_DISPATCH majorFunctions[],
                                PDEVICE_OBJECT* deviceObject, NDIS_HANDLE* ndisDeviceHandle);
NDIS_STATUS NdisMDeregisterDevice(NDIS_HANDLE ndisDeviceHandle);

// Named objects live under this directory; the rest of the name is the opener's plain name.
inline constexpr WCHAR kNamedObjectDirectory[] = u"\\BaseNamedObjects\\";

// Opens the named event of the process whose request is being dispatched (see
// ndis::host::DispatchIrp). Returns the event with one reference owned by `*eventHandle`, or none
// (and a null handle) when that process has no event of this name. Passive level only.
PKEVENT IoCreateNotificationEvent(PUNICODE_STRING eventName, PHANDLE eventHandle);
// Closes a handle from IoCreateNotificationEvent, dropping its reference on the event.
NTSTATUS ZwClose(HANDLE handle);

namespace ndis::host {

// What the host does when the driver registers or removes its control device. Both calls come
// from driver threads, never with a driver lock held.
class DeviceHost {
public:
    virtual ~DeviceHost() = default;
    // The device exists from here until DeviceRemoved; a failure fails the registration.
    virtual NDIS_STATUS DeviceAdded(PDEVICE_OBJECT device) = 0;
    // After this returns the host must no longer call the device's dispatch routines.
    virtual void DeviceRemoved(PDEVICE_OBJECT device) = 0;
};

// Installs the host (none: devices are registered without being served).
void SetDeviceHost(DeviceHost* host);

// Calls the device's dispatch routine for the IRP's major function (STATUS_INVALID_DEVICE_REQUEST
// when it has none). While it runs, the IRP's file object is the calling thread's current file
// object, whose Events IoCreateNotificationEvent looks names up in. The host sends every request
// of a handle through here, the same FILE_OBJECT from create to close.
NTSTATUS DispatchIrp(PDEVICE_OBJECT device, PIRP irp);

// Reports the end of a process to the driver's notify routine, if one is registered. Never
// with a driver lock held.
void ProcessEnded(ULONG processId);

}  // namespace ndis::host
