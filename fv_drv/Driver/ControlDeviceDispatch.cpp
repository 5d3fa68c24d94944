// Requests on the control device: create, cleanup, close, and the device-control codes routed to
// their routines. Every request completes before the dispatch returns.
#include "fv_contract/ControlCodes.h"
#include "fv_drv/Driver/ControlDevice.h"
#include "fv_drv/Driver/ControlRequests.h"

namespace {

OpenContext* ContextOf(PFILE_OBJECT file) {
    return file != nullptr ? static_cast<OpenContext*>(file->FsContext) : nullptr;
}

NTSTATUS DeviceControl(PIRP irp, PIO_STACK_LOCATION stack, ControlIo& io) {
    const ULONG code = stack->DeviceIoControl.IoControlCode;
    switch (code) {
        case IOCTL_ENUM_BINDINGS:
            return EnumBindings(io);
        case IOCTL_OPEN_ADAPTER:
            return OpenAdapter(stack->FileObject, io);
        case IOCTL_SET_OID:
            return STATUS_NOT_SUPPORTED;
        case IOCTL_GET_VERSION:
            return GetVersion(io);
        case IOCTL_CREATE_BLOCKED_EVENT:
            return CreateNamedEvent(kBlockedEventSlot, IoGetRequestorProcessId(irp));
        case IOCTL_CREATE_GRANTED_EVENT:
            return CreateNamedEvent(kGrantedEventSlot, IoGetRequestorProcessId(irp));
        case IOCTL_CREATE_EXIT_EVENT:
            return CreateNamedEvent(kExitEventSlot, IoGetRequestorProcessId(irp));
        case IOCTL_CLOSE_EVENTS:
            return CloseNamedEvents();
        case IOCTL_QUERY_OID:
            return QueryOid(ContextOf(stack->FileObject), io);
        default:
            break;
    }
    OpenContext* context = ContextOf(stack->FileObject);
    if (context == nullptr) return STATUS_INVALID_HANDLE;
    if (!IsAdapterRequest(code)) return STATUS_NOT_SUPPORTED;
    return AdapterRequest(context->Binding, code, io);
}

}  // namespace

NTSTATUS ControlDeviceDispatch(PDEVICE_OBJECT, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;
    switch (stack->MajorFunction) {
        case IRP_MJ_CREATE:
            if (stack->FileObject != nullptr) {
                stack->FileObject->FsContext = nullptr;
                stack->FileObject->FsContext2 = nullptr;
            }
            break;
        case IRP_MJ_CLEANUP:
            break;
        case IRP_MJ_CLOSE:
            CloseControlHandle(stack->FileObject);
            break;
        case IRP_MJ_DEVICE_CONTROL: {
            ControlIo io;
            // Without a buffer there is nothing to read or write, whatever the lengths say.
            if (irp->SystemBuffer != nullptr) {
                io.Buffer = static_cast<PUCHAR>(irp->SystemBuffer);
                io.InputLength = stack->DeviceIoControl.InputBufferLength;
                io.OutputLength = stack->DeviceIoControl.OutputBufferLength;
            }
            status = DeviceControl(irp, stack, io);
            information = io.Information;
            break;
        }
        default:
            status = STATUS_INVALID_DEVICE_REQUEST;
            break;
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}
