#include "fv_drv/host/DeviceBridge.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "fv_contract/DeviceNames.h"
#include "fv_contract/ControlCodes.h"
#include "fv_platform/UniqueFd.h"

namespace fv::host {
namespace {

class BridgeHandle final : public ControlHandle {
public:
    // The handle owns the opener's events for its life; the file object names them to the driver.
    BridgeHandle(PDEVICE_OBJECT device, std::vector<NamedEventFd> events, pid_t peer,
                 ProcessWatch& creators)
        : device_(device), peer_(peer), creators_(creators), events_(std::move(events)) {
        for (const auto& e : events_) fileObject_.Events.push_back({e.name, e.fd.Get()});
    }

    NTSTATUS Open() { return Call(IRP_MJ_CREATE); }

    ~BridgeHandle() override {
        if (opened_) {
            Call(IRP_MJ_CLEANUP);
            Call(IRP_MJ_CLOSE);
        }
    }

    std::uint32_t DeviceControl(std::uint32_t code, std::uint8_t* systemBuffer,
                                std::uint32_t inputLength, std::uint32_t outputLength,
                                std::uint32_t* information) override {
        IRP irp;
        irp.Stack.DeviceIoControl.IoControlCode = code;
        irp.Stack.DeviceIoControl.InputBufferLength = inputLength;
        irp.Stack.DeviceIoControl.OutputBufferLength = outputLength;
        const NTSTATUS status = Dispatch(IRP_MJ_DEVICE_CONTROL, irp, systemBuffer);
        *information = std::uint32_t(irp.IoStatus.Information);
        // The program closes this handle at once; its process, not the handle, holds the event.
        if (status == STATUS_SUCCESS) {
            const std::size_t slot = EventSlotOf(code);
            if (slot < ProcessWatch::kSlots) creators_.Watch(slot, peer_);
        }
        return status;
    }

private:
    NTSTATUS Call(UCHAR major) {
        IRP irp;
        const NTSTATUS status = Dispatch(major, irp, nullptr);
        if (major == IRP_MJ_CREATE) opened_ = status == STATUS_SUCCESS;
        return status;
    }

    static std::size_t EventSlotOf(std::uint32_t code) {
        switch (code) {
            case IOCTL_CREATE_BLOCKED_EVENT:
                return 0;
            case IOCTL_CREATE_GRANTED_EVENT:
                return 1;
            case IOCTL_CREATE_EXIT_EVENT:
                return 2;
            default:
                return ProcessWatch::kSlots;
        }
    }

    NTSTATUS Dispatch(UCHAR major, IRP& irp, std::uint8_t* buffer) {
        irp.Stack.MajorFunction = major;
        irp.RequestorProcessId = ULONG(peer_ > 0 ? peer_ : 0);
        irp.Stack.FileObject = &fileObject_;
        irp.SystemBuffer = buffer;
        return ndis::host::DispatchIrp(device_, &irp);
    }

    PDEVICE_OBJECT device_;
    pid_t peer_;
    ProcessWatch& creators_;
    FILE_OBJECT fileObject_;
    bool opened_ = false;
    // Last: the descriptors stay open until the handle's close has run.
    std::vector<NamedEventFd> events_;
};

}  // namespace

DeviceBridge::DeviceBridge(std::string socketPath, PeerPolicy policy)
    : socketPath_(std::move(socketPath)), server_(*this, policy) {}

DeviceBridge::~DeviceBridge() {
    server_.Stop();
    creators_.Stop();
}

NDIS_STATUS DeviceBridge::DeviceAdded(PDEVICE_OBJECT device) {
    {
        std::lock_guard guard(lock_);
        device_ = device;
    }
    if (!server_.Start(socketPath_)) {
        std::fprintf(stderr, "ferrovane-sys: cannot create %s: %s\n", socketPath_.c_str(),
                     std::strerror(errno));
        std::lock_guard guard(lock_);
        device_ = nullptr;
        return NDIS_STATUS_FAILURE;
    }
    return NDIS_STATUS_SUCCESS;
}

void DeviceBridge::DeviceRemoved(PDEVICE_OBJECT) {
    // Every connection's handle is closed before this returns; no dispatch comes after it.
    server_.Stop();
    std::lock_guard guard(lock_);
    device_ = nullptr;
}

std::uint32_t DeviceBridge::Create(std::vector<NamedEventFd> events,
                                   std::unique_ptr<ControlHandle>& handle) {
    return CreateFor(0, std::move(events), handle);
}

std::uint32_t DeviceBridge::CreateFor(pid_t peer, std::vector<NamedEventFd> events,
                                      std::unique_ptr<ControlHandle>& handle) {
    PDEVICE_OBJECT device;
    {
        std::lock_guard guard(lock_);
        device = device_;
    }
    if (device == nullptr) return STATUS_INVALID_DEVICE_STATE;
    auto bridged = std::make_unique<BridgeHandle>(device, std::move(events), peer, creators_);
    const NTSTATUS status = bridged->Open();
    if (status != STATUS_SUCCESS) return status;
    handle = std::move(bridged);
    return STATUS_SUCCESS;
}

// The driver opens the program's events by these names only.
bool DeviceBridge::UsesEvent(const std::string& name) const {
    return name == kBlockedEventName || name == kGrantedEventName || name == kExitEventName;
}

bool DeviceBridge::Serving() {
    std::lock_guard guard(lock_);
    return device_ != nullptr;
}

}  // namespace fv::host
