// Record reads over the control socket: IOCTL_GET_BLOCKED_RECORD round trips against the real
// driver code, hosted in this process over a simulated adapter as ferrovane-sys hosts it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench/fv_drv/BenchTables.h"
#include "fv_contract/ControlCodes.h"
#include "fv_drv/Driver/DriverEntry.h"
#include "fv_contract/PacketEventRecord.h"
#include "fv_drv/Driver/RangeTable.h"
#include "fv_drv/host/DeviceBridge.h"
#include "fv_drv/host/Ipv4Frame.h"
#include "fv_drv/ndis/sim/SimAdapter.h"
#include "fv_drv/ndis/sim/SimStack.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/NamedEvents.h"
#include "fv_contract/DeviceNames.h"

namespace {

constexpr std::uint32_t kListed = 0xC6336401;  // 198.51.100.1
constexpr int kRefill = 100000;

struct HostedDriver {
    HostedDriver()
        : dir(std::filesystem::temp_directory_path() / ("fvbench-" + std::to_string(getpid()))),
          bridge((std::filesystem::create_directories(dir), (dir / kControlDeviceName).string()),
                 fv::host::PeerPolicy{geteuid(), gid_t(-1)}) {
        ndis::host::SetDeviceHost(&bridge);
        ndis::host::LoadDriver(DriverEntry);
        adapter = std::make_unique<ndis::sim::Adapter>();
        adapter->KeepHistory = false;
        ndis::host::AddLowerAdapter(adapter.get());
        stack.KeepHistory = false;
        stack.Bind(adapter->UpperBindings());
    }
    ~HostedDriver() {
        stack.Close();
        ndis::host::RemoveLowerAdapter(adapter.get());
        ndis::host::UnloadDriver();
        ndis::host::SetDeviceHost(nullptr);
        std::filesystem::remove_all(dir);
    }
    void SendListed(int count) {
        fv::host::Ipv4FrameSpec shape;
        shape.source = 0x0A000002;
        shape.destination = kListed;
        shape.sourcePort = 40000;
        shape.destinationPort = 80;
        const auto frame = fv::host::BuildIpv4Frame(shape);
        for (int i = 0; i < count; ++i) stack.Send(frame);
    }
    std::filesystem::path dir;
    fv::host::DeviceBridge bridge;
    std::unique_ptr<ndis::sim::Adapter> adapter;
    ndis::sim::Stack stack;
};

void BM_BlockedRecordReads(benchmark::State& state) {
    HostedDriver host;
    for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
        fv::CreateNamedEvent(name, fv::Event::Mode::AutoReset);
    }
    fv::DeviceHandle h = fv::OpenDevice((host.dir / kControlDeviceName).string());
    auto call = [&](std::uint32_t code, const void* in, std::uint32_t length) {
        return fv::DeviceIoControl(h, code, in, length, nullptr, 0, nullptr);
    };
    const std::u16string lower = host.adapter->Name();
    const std::vector<std::uint8_t> upload = fv::bench::OneAddress(kListed);
    const std::uint8_t on = 1;
    if (!call(IOCTL_CREATE_BLOCKED_EVENT, nullptr, 0) ||
        !call(IOCTL_OPEN_ADAPTER, lower.data(), std::uint32_t(lower.size() * 2)) ||
        !call(IOCTL_SET_RANGES, upload.data(), std::uint32_t(upload.size())) ||
        !call(IOCTL_START_FILTER, nullptr, 0) || !call(IOCTL_SET_REPORT_BLOCKED, &on, 1)) {
        state.SkipWithError("driver set-up failed");
        return;
    }
    host.SendListed(kRefill);
    PacketEventRecord record;
    for (auto _ : state) {
        if (!fv::DeviceIoControl(h, IOCTL_GET_BLOCKED_RECORD, nullptr, 0, &record, sizeof record,
                                 nullptr)) {
            state.PauseTiming();
            host.SendListed(kRefill);
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
    call(IOCTL_STOP_FILTER, nullptr, 0);
    call(IOCTL_CLOSE_EVENTS, nullptr, 0);
}

}  // namespace

BENCHMARK(BM_BlockedRecordReads)->UseRealTime();
BENCHMARK_MAIN();
