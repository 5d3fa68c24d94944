// ferrovane-sys: hosts the packet filter driver. Binds the named interfaces, attaches to
// others in place (or binds simulated adapters), serves the control device while an adapter
// is bound, and on SIGTERM or SIGINT unbinds everything, removes the device and exits 0. Under
// systemd it reports ready only once all of that is in place, so units ordered after it find
// the TAP devices, the rules and the socket, and a start that fails is seen as failed.
#include <grp.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fv_drv/host/AttachBindings.h"
#include "fv_drv/host/DeviceBridge.h"
#include "fv_drv/host/HostOptions.h"
#include "fv_drv/host/LinuxBindings.h"
#include "fv_drv/host/ServiceNotify.h"
#include "fv_drv/host/SimTraffic.h"
#include "fv_drv/host/StoredFds.h"
#include "fv_drv/host/StateFolder.h"
#include "fv_contract/ControlCodes.h"
#include "fv_drv/Driver/DriverEntry.h"
#include "fv_drv/ndis/ndis_media.h"
#include "fv_contract/DeviceNames.h"
#include "fv_platform/UniqueFd.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "ferrovane-sys: %s\n", message.c_str());
    return 1;
}

// What the service's status line shows while the daemon filters.
std::string FilteringStatus(const fv::host::HostOptions& options) {
    std::string interfaces;
    auto add = [&](const std::string& text) {
        interfaces += (interfaces.empty() ? "" : ", ") + text;
    };
    for (const fv::host::Binding& b : options.bindings) add(b.lower + " (bound as " + b.upper + ")");
    for (const std::string& name : options.attachments) add(name + " (attached)");
    if (options.sim) add("simulated adapters");
    return "Filtering " + interfaces + "; serving " + options.deviceDir + "/" + kControlDeviceName;
}

// Blocks the stop signals in every thread and returns a descriptor that reads them.
fv::UniqueFd StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return fv::UniqueFd(signalfd(-1, &set, SFD_CLOEXEC));
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists: the environment is not safe to change later.
    const fv::host::ServiceNotifier service = fv::host::ServiceNotifier::FromEnvironment();
    const fv::host::StoredFds stored = fv::host::StoredFds::FromEnvironment();
    fv::host::HostOptions options;
    std::string error;
    if (!fv::host::ParseHostOptions(std::vector<std::string>(argv + 1, argv + argc),
                                  std::getenv(kDeviceDirVariable), options, error)) {
        std::fprintf(stderr, "ferrovane-sys: %s\n%s", error.c_str(), fv::host::kHostUsage);
        return 2;
    }

    if (!options.detach.empty()) {
        bool all = true;
        for (const std::string& name : options.detach) {
            if (fv::host::AttachBindings::DetachLeftovers(name, error)) {
                std::fprintf(stderr, "ferrovane-sys: %s: kernel filter removed\n", name.c_str());
            } else {
                std::fprintf(stderr, "ferrovane-sys: %s: %s\n", name.c_str(), error.c_str());
                all = false;
            }
        }
        return all ? 0 : 1;
    }

    fv::host::PeerPolicy policy{geteuid(), gid_t(-1)};
    if (!options.deviceGroup.empty()) {
        const group* g = getgrnam(options.deviceGroup.c_str());
        if (g == nullptr) return Fail("no group " + options.deviceGroup);
        policy.deviceGid = g->gr_gid;
    }
    service.Send("STATUS=Starting");
    std::error_code ec;
    std::filesystem::create_directories(options.deviceDir, ec);
    if (ec) return Fail("cannot create " + options.deviceDir + ": " + ec.message());
    chmod(options.deviceDir.c_str(), 0755);

    const fv::UniqueFd signals = StopSignals();
    if (!signals) return Fail(std::string("signalfd: ") + std::strerror(errno));

    fv::host::DeviceBridge bridge(options.deviceDir + "/" + kControlDeviceName, policy);
    ndis::host::SetDeviceHost(&bridge);
    if (ndis::host::LoadDriver(DriverEntry) != STATUS_SUCCESS) return Fail("driver failed to load");

    fv::host::StateFolder state;
    fv::host::LinuxBindings interfaces;
    fv::host::AttachBindings attached(options.deviceDir);
    attached.KeepKernelFiltersWith(service, stored);
    fv::host::SimTraffic sim;
    bool started = (options.bindings.empty() && options.attachments.empty()) ||
                   state.Open(options.deviceDir, error);
    started = started && interfaces.Start(options.bindings, state, error) &&
              attached.Start(options.attachments, options.attachMode, state, error);
    if (started && options.sim) {
        started = sim.Start();
        if (!started) error = "simulated adapters did not come up";
    }
    if (started && !bridge.Serving()) {
        // Another daemon serves this folder, or the socket cannot be made: nobody could drive us.
        started = false;
        error = "no control device in " + options.deviceDir;
    }
    if (started) {
        std::fprintf(stderr, "ferrovane-sys: serving %s/%s\n", options.deviceDir.c_str(),
                     kControlDeviceName);
        service.Send("READY=1\nSTATUS=" + fv::host::StatusLine(FilteringStatus(options)));
        signalfd_siginfo info;
        while (read(signals.Get(), &info, sizeof info) < 0 && errno == EINTR) {
        }
        service.Send("STOPPING=1\nSTATUS=Stopping: removing the devices and rules");
    } else {
        service.Send("STATUS=" + fv::host::StatusLine("Failed to start: " + error));
    }
    sim.Stop();
    if (started && options.sim) {
        std::fprintf(stderr, "ferrovane-sys: the simulated adapters carried %llu packets\n",
                     static_cast<unsigned long long>(sim.Carried()));
    }
    attached.Stop();
    interfaces.Stop();
    ndis::host::UnloadDriver();
    ndis::host::SetDeviceHost(nullptr);
    return started ? 0 : Fail(error);
}
