// Blocked records per second from the driver's ring into the record queue and fvconns.log,
// during a flood of blocked packets: the real driver hosted in this process over a simulated
// adapter, the driver session's readers draining it over the control socket, one request per
// record.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "fv_drv/Driver/DriverEntry.h"
#include "fv_drv/host/DeviceBridge.h"
#include "fv_drv/host/HostOptions.h"
#include "fv_drv/host/Ipv4Frame.h"
#include "fv_drv/ndis/sim/SimAdapter.h"
#include "fv_drv/ndis/sim/SimStack.h"
#include "fv_gui/client/DriverSession.h"
#include "fv_gui/logging/PacketRecordQueue.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/NamedEvents.h"
#include "fv_contract/DeviceNames.h"

namespace {

constexpr std::uint32_t kListed = 0xCB007109;  // 203.0.113.9
constexpr int kBurst = 20000;                  // well inside a ring of 200,000

void BM_BlockedRecordsIntoQueueAndLog(benchmark::State& state) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("fvdrain-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "logs");
    ::setenv(kDeviceDirVariable, dir.c_str(), 1);
    ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
    std::ofstream(dir / "list.p2p") << "Bench Net:203.0.113.0-203.0.113.255\r\n";

    fv::host::DeviceBridge bridge((dir / kControlDeviceName).string(),
                                fv::host::PeerPolicy{::geteuid(), gid_t(-1)});
    ndis::host::SetDeviceHost(&bridge);
    ndis::host::LoadDriver(DriverEntry);
    auto adapter = std::make_unique<ndis::sim::Adapter>();
    adapter->KeepHistory = false;
    ndis::host::AddLowerAdapter(adapter.get());
    ndis::sim::Stack stack;
    stack.KeepHistory = false;
    stack.Bind(adapter->UpperBindings());
    fv::host::Ipv4FrameSpec layout;
    layout.source = 0x0A000002;
    layout.destination = kListed;
    layout.sourcePort = 40000;
    layout.destinationPort = 443;
    const auto frame = fv::host::BuildIpv4Frame(layout);
    {
        fv::Settings settings((dir / "program").string());
        settings.LogGrantedToFile.value = 0;
        fv::PacketStatistics statistics;
        fv::PacketRecordQueue queue;
        fv::Event blockedNotify, grantedNotify;
        fv::DriverSession session(nullptr);
        fv::SessionParameters p;
        p.blocklistPath = (dir / "list.p2p").string();
        p.logFolder = (dir / "logs").string() + "/";
        p.logBaseName = fv::kLogFileName;
        p.settings = &settings;
        p.blockedNotify = &blockedNotify;
        p.grantedNotify = &grantedNotify;
        p.queue = &queue;
        p.statistics = &statistics;
        const std::u16string lower = adapter->Name();
        p.selectedAdapter.assign(lower.begin(), lower.end());
        if (!session.OpenSession(p) || !session.SetFiltering(true)) {
            state.SkipWithError("the session did not start");
        } else {
            std::uint64_t sent = 0;
            for (auto _ : state) {
                for (int i = 0; i < kBurst; ++i) stack.Send(frame);
                sent += kBurst;
                while (statistics.GetRunningBlocked() < sent) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                state.PauseTiming();
                queue.ClearBlocked();
                state.ResumeTiming();
            }
            state.SetItemsProcessed(std::int64_t(sent));
            state.counters["log_bytes"] = double(
                std::filesystem::file_size(dir / "logs" / fv::kLogFileName));
            session.SetFiltering(false);
        }
        session.CloseSession();
    }
    stack.Close();
    ndis::host::RemoveLowerAdapter(adapter.get());
    ndis::host::UnloadDriver();
    ndis::host::SetDeviceHost(nullptr);
    for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
        fv::ReleaseNamedEvent(name);
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_BlockedRecordsIntoQueueAndLog)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
