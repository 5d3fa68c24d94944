// Sequences of control requests on two handles against a driver bound to two simulated adapters,
// with packets, power changes and handle reopening in between. Every input loads the driver
// afresh, so a finding replays on its own.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fv_drv/Driver/AdapterBinding.h"
#include "fv_contract/ControlCodes.h"
#include "fv_drv/Driver/DriverEntry.h"
#include "fv_drv/Driver/EventRing.h"
#include "fv_drv/ndis/ndis_media.h"
#include "fv_drv/ndis/sim/SimStack.h"
#include "fv_contract/DeviceNames.h"

namespace {

constexpr std::uint32_t kCodes[] = {
    IOCTL_ENUM_BINDINGS,        IOCTL_OPEN_ADAPTER,        IOCTL_QUERY_OID,
    IOCTL_SET_OID,              IOCTL_GET_STATS,           IOCTL_RESET_STATS,
    IOCTL_SET_RANGES,           IOCTL_GET_VERSION,         IOCTL_CREATE_BLOCKED_EVENT,
    IOCTL_START_FILTER,         IOCTL_STOP_FILTER,         IOCTL_CREATE_EXIT_EVENT,
    IOCTL_GET_BLOCKED_RECORD,   IOCTL_GET_GRANTED_RECORD,  IOCTL_CREATE_GRANTED_EVENT,
    IOCTL_GET_BLOCKED_COUNT,    IOCTL_GET_GRANTED_COUNT,   IOCTL_SET_REPORT_BLOCKED,
    IOCTL_SET_REPORT_GRANTED,   IOCTL_CLOSE_EVENTS};
constexpr NDIS_OID kOids[] = {OID_GEN_VENDOR_DESCRIPTION, OID_GEN_MEDIA_IN_USE,
                              OID_GEN_MAC_OPTIONS, OID_802_3_CURRENT_ADDRESS, OID_PNP_CAPABILITIES};

class Host final : public ndis::host::DeviceHost {
public:
    NDIS_STATUS DeviceAdded(PDEVICE_OBJECT d) override {
        std::copy(std::begin(d->MajorFunction), std::end(d->MajorFunction), device.MajorFunction);
        return NDIS_STATUS_SUCCESS;
    }
    void DeviceRemoved(PDEVICE_OBJECT) override {}
    DEVICE_OBJECT device;  // its dispatch table, kept for closes after the device is gone
};

struct Fds {
    Fds() {
        for (int& fd : fds) fd = eventfd(0, EFD_NONBLOCK);
    }
    int fds[3];
};

ndis::sim::AdapterConfig Config(int n) {
    ndis::sim::AdapterConfig c;
    c.Name = u"\\Device\\sim" + std::u16string(1, char16_t(u'0' + n));
    c.UpperBindings = u"\\Device\\fv-sim" + std::u16string(1, char16_t(u'0' + n));
    return c;
}

void Abort(const char* what) {
    fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

class Session {
public:
    explicit Session(FuzzedDataProvider& in) : in_(in) {
        ndis::host::SetDeviceHost(&host_);
        if (ndis::host::LoadDriver(DriverEntry) != STATUS_SUCCESS) Abort("load");
        for (int i = 0; i < 2; ++i) {
            adapters_.push_back(std::make_unique<ndis::sim::Adapter>(Config(i)));
            ndis::host::AddLowerAdapter(adapters_.back().get());
            stacks_.push_back(std::make_unique<ndis::sim::Stack>());
            stacks_.back()->Bind(adapters_.back()->UpperBindings());
        }
        // The first handle's process has all three events, the second only the blocked one.
        static const Fds fds;
        files_[0].Events = {{kBlockedEventName, fds.fds[0]},
                            {kGrantedEventName, fds.fds[1]},
                            {kExitEventName, fds.fds[2]}};
        files_[1].Events = {{kBlockedEventName, fds.fds[0]}};
        for (FILE_OBJECT& f : files_) Dispatch(&f, IRP_MJ_CREATE);
    }

    ~Session() {
        for (FILE_OBJECT& f : files_) CloseHandle(&f);
        for (auto& s : stacks_) s->Close();
        for (auto& a : adapters_) ndis::host::RemoveLowerAdapter(a.get());
        ndis::host::UnloadDriver();
        ndis::host::SetDeviceHost(nullptr);
        ndis::test::FailAllocations(kDriverPoolTag, 0);
        if (ndis::test::OutstandingAllocations(kDriverPoolTag) != 0) Abort("driver memory leaked");
        if (ndis::test::OutstandingAllocations(kEventRingPoolTag) != 0) Abort("ring leaked");
    }

    void Step() {
        FILE_OBJECT* file = &files_[in_.ConsumeBool() ? 1 : 0];
        const int adapter = in_.ConsumeBool() ? 1 : 0;
        switch (in_.ConsumeIntegralInRange(0, 9)) {
            case 0:
                CloseHandle(file);
                Dispatch(file, IRP_MJ_CREATE);
                break;
            case 1:
                SendPacket(adapter);
                break;
            case 2:
                adapters_[adapter]->SetPower(in_.ConsumeBool() ? NdisDeviceStateD3 : NdisDeviceStateD0);
                break;
            case 3: {
                const NDIS_DEVICE_POWER_STATE s = in_.ConsumeBool() ? NdisDeviceStateD3 : NdisDeviceStateD0;
                std::vector<std::uint8_t> bytes(sizeof s);
                std::memcpy(bytes.data(), &s, sizeof s);
                stacks_[adapter]->Set(OID_PNP_SET_POWER, bytes);
                break;
            }
            case 4:
                ndis::test::FailAllocations(kDriverPoolTag, 1);
                Request(file, adapter);
                ndis::test::FailAllocations(kDriverPoolTag, 0);
                break;
            default:
                Request(file, adapter);
                break;
        }
    }

private:
    void Dispatch(FILE_OBJECT* file, UCHAR major) {
        IRP irp;
        irp.Stack.MajorFunction = major;
        irp.Stack.FileObject = file;
        ndis::host::DispatchIrp(&host_.device, &irp);
    }
    void CloseHandle(FILE_OBJECT* file) {
        Dispatch(file, IRP_MJ_CLEANUP);
        Dispatch(file, IRP_MJ_CLOSE);
    }

    void SendPacket(int adapter) {
        std::vector<std::uint8_t> frame(in_.ConsumeIntegralInRange<std::size_t>(0, 64), 0);
        const std::vector<std::uint8_t> head = in_.ConsumeBytes<std::uint8_t>(frame.size());
        std::copy(head.begin(), head.end(), frame.begin());
        if (frame.size() >= 34 && in_.ConsumeBool()) {  // a plausible IPv4 frame
            frame[12] = 0x08;
            frame[13] = 0x00;
            frame[14] = 0x45;
        }
        if (in_.ConsumeBool()) {
            stacks_[adapter]->Send(frame);
        } else {
            adapters_[adapter]->IndicatePacket(frame);
        }
    }

    std::vector<std::uint8_t> Input(std::uint32_t code, int adapter) {
        if (code == IOCTL_OPEN_ADAPTER && in_.ConsumeBool()) {
            const std::u16string name = adapters_[adapter]->Name();
            std::vector<std::uint8_t> bytes(name.size() * 2);
            std::memcpy(bytes.data(), name.data(), bytes.size());
            return bytes;
        }
        if (code == IOCTL_QUERY_OID && in_.ConsumeBool()) {
            const NDIS_OID oid = in_.PickValueInArray(kOids);
            std::vector<std::uint8_t> bytes(sizeof oid);
            std::memcpy(bytes.data(), &oid, sizeof oid);
            return bytes;
        }
        if (code == IOCTL_SET_RANGES && in_.ConsumeBool()) {
            // A count, then about as many entries as it promises.
            const std::uint32_t count = in_.ConsumeIntegralInRange<std::uint32_t>(0, 16);
            const std::size_t size = std::size_t(count) * 8 + 8 + in_.ConsumeIntegralInRange(-2, 2);
            std::vector<std::uint8_t> bytes(size, 0);
            std::memcpy(bytes.data(), &count, std::min<std::size_t>(4, size));
            for (std::size_t i = 4; i < size; ++i) bytes[i] = in_.ConsumeIntegral<std::uint8_t>();
            return bytes;
        }
        return in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange<std::size_t>(0, 300));
    }

    void Request(FILE_OBJECT* file, int adapter) {
        const std::uint32_t code =
            in_.ConsumeIntegralInRange(0, 7) != 0 ? in_.PickValueInArray(kCodes)
                                                  : in_.ConsumeIntegral<std::uint32_t>();
        std::vector<std::uint8_t> input = Input(code, adapter);
        const ULONG outputLength = in_.ConsumeBool() ? in_.ConsumeIntegralInRange<ULONG>(0, 300)
                                                     : in_.ConsumeIntegralInRange<ULONG>(0, 5000);
        // Exactly max(input, output) bytes, so any overrun is caught.
        std::vector<std::uint8_t> buffer(std::max<std::size_t>(input.size(), outputLength));
        std::copy(input.begin(), input.end(), buffer.begin());
        IRP irp;
        irp.SystemBuffer = buffer.empty() ? nullptr : buffer.data();
        irp.Stack.MajorFunction = IRP_MJ_DEVICE_CONTROL;
        irp.Stack.FileObject = file;
        irp.Stack.DeviceIoControl.IoControlCode = code;
        irp.Stack.DeviceIoControl.InputBufferLength = ULONG(input.size());
        irp.Stack.DeviceIoControl.OutputBufferLength = outputLength;
        const NTSTATUS status = ndis::host::DispatchIrp(&host_.device, &irp);
        if (status != irp.IoStatus.Status) Abort("returned and completed statuses differ");
        if (status == STATUS_SUCCESS && irp.IoStatus.Information > outputLength) {
            Abort("success claims more bytes than the output holds");
        }
    }

    FuzzedDataProvider& in_;
    Host host_;
    std::vector<std::unique_ptr<ndis::sim::Adapter>> adapters_;
    std::vector<std::unique_ptr<ndis::sim::Stack>> stacks_;
    FILE_OBJECT files_[2];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Session session(in);
    for (int steps = 0; steps < 64 && in.remaining_bytes() > 0; ++steps) session.Step();
    return 0;
}
