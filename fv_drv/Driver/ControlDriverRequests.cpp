// Driver-wide requests: the binding list, binding a handle to an adapter and releasing it, the
// version.
#include <algorithm>
#include <cstring>

#include "fv_contract/ControlCodes.h"
#include "fv_drv/Driver/ControlRequests.h"

namespace {

constexpr ULONG kNulSize = sizeof(WCHAR);

// Appends `name` and its NUL if `*room` holds both.
bool AppendName(ControlIo& io, ULONG* position, ULONG* room, const NDIS_STRING& name) {
    const ULONG needed = ULONG(name.Length) + kNulSize;
    if (*room < needed) return false;
    if (name.Length != 0) std::memcpy(io.Buffer + *position, name.Buffer, name.Length);
    std::memset(io.Buffer + *position + name.Length, 0, kNulSize);
    *position += needed;
    *room -= needed;
    return true;
}

// Into a zeroed field, leaving at least its final NUL.
void CopyText(char (&field)[kVersionTextSize], const char* text) {
    std::memcpy(field, text, std::min(std::strlen(text), kVersionTextSize - 1));
}

}  // namespace

NTSTATUS EnumBindings(ControlIo& io) {
    if (io.OutputLength < kNulSize) return STATUS_BUFFER_OVERFLOW;
    // The list's final NUL is written first and its room kept back; each pair moves it along.
    ULONG position = 0;
    ULONG room = io.OutputLength - kNulSize;
    std::memset(io.Buffer, 0, kNulSize);
    NTSTATUS status = STATUS_SUCCESS;
    NdisAcquireSpinLock(&g_driver.GlobalLock);
    for (AdapterBinding* b = g_driver.Bindings; b != nullptr; b = b->Next) {
        if (!AppendName(io, &position, &room, b->VirtualName) ||
            !AppendName(io, &position, &room, b->LowerName)) {
            status = STATUS_BUFFER_OVERFLOW;
            break;
        }
        std::memset(io.Buffer + position, 0, kNulSize);
    }
    NdisReleaseSpinLock(&g_driver.GlobalLock);
    if (status == STATUS_SUCCESS) io.Information = position + kNulSize;
    return status;
}

NTSTATUS OpenAdapter(PFILE_OBJECT file, ControlIo& io) {
    if (file == nullptr) return STATUS_INVALID_HANDLE;
    // A handle holds one adapter for its life; replacing it would strand the first one's slot.
    if (file->FsContext != nullptr) return STATUS_DEVICE_BUSY;
    AdapterBinding* b = ReferenceBindingByLowerName(io.Buffer, io.InputLength);
    if (b == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;

    NdisAcquireSpinLock(&b->Lock);
    const bool unbinding =
        std::atomic_ref<BOOLEAN>(b->Unbinding).load(std::memory_order_relaxed) != 0;
    NdisReleaseSpinLock(&b->Lock);
    if (unbinding) {
        DereferenceBinding(b);
        return STATUS_INVALID_DEVICE_STATE;
    }
    if (b->OpenedBy.load() != nullptr) {
        DereferenceBinding(b);
        return STATUS_DEVICE_BUSY;
    }
    OpenContext* context = AllocateOpenContext(b);
    if (context == nullptr) {
        DereferenceBinding(b);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    OpenContext* none = nullptr;
    if (!b->OpenedBy.compare_exchange_strong(none, context)) {
        DereferenceOpenContext(context);  // releases the binding with it
        return STATUS_DEVICE_BUSY;
    }
    file->FsContext = context;
    return STATUS_SUCCESS;
}

void CloseControlHandle(PFILE_OBJECT file) {
    if (file == nullptr) return;
    auto* context = static_cast<OpenContext*>(file->FsContext);
    file->FsContext = nullptr;
    file->FsContext2 = nullptr;
    if (context == nullptr) return;
    // The filter state stays as it is: the last table and switch remain in force.
    AdapterBinding* b = context->Binding;
    NdisAcquireSpinLock(&b->Lock);
    OpenContext* expected = context;
    b->OpenedBy.compare_exchange_strong(expected, nullptr);
    NdisReleaseSpinLock(&b->Lock);
    DereferenceOpenContext(context);
}

NTSTATUS GetVersion(ControlIo& io) {
    if (io.OutputLength < sizeof(DriverVersionInfo)) return STATUS_INVALID_PARAMETER;
    DriverVersionInfo info{};
    info.major = kDriverMajorVersion;
    info.minor = kDriverMinorVersion;
    info.build = kDriverBuild;
    CopyText(info.codeName, kDriverCodeName);
    CopyText(info.tag, kDriverTag);
    std::memcpy(io.Buffer, &info, sizeof info);
    io.Information = sizeof info;
    return STATUS_SUCCESS;
}
