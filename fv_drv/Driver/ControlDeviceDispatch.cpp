// Requests on the control device. Handles open and close freely; device-control requests are
// refused until the request protocol is served here.
#include "ControlDevice.h"

NTSTATUS ControlDeviceDispatch(PDEVICE_OBJECT, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = STATUS_SUCCESS;
    switch (stack->MajorFunction) {
        case IRP_MJ_CREATE:
            if (stack->FileObject != nullptr) {
                stack->FileObject->FsContext = nullptr;
                stack->FileObject->FsContext2 = nullptr;
            }
            break;
        case IRP_MJ_CLEANUP:
        case IRP_MJ_CLOSE:
            break;
        default:
            status = STATUS_INVALID_HANDLE;
            break;
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}
