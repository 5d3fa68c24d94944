// ferrovane-session SOCKETDIR BLOCKLIST [SECONDS]: drives ferrovane-sys without the window.
// Opens a session on the first adapter the driver lists, uploads the blocklist, filters for a
// while (default 30 s) and prints the blocked records as they arrive. The connection log goes
// to the current folder; settings come from a private registry folder unless
// FERROVANE_REGISTRY_DIR names one.
#include <arpa/inet.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fv_contract/DeviceNames.h"
#include "fv_gui/client/DriverSession.h"
#include "fv_gui/logging/PacketRecordQueue.h"
#include "fv_gui/logging/ProtocolName.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/TickCount.h"
#include "fv_platform/Wait.h"

namespace {

constexpr std::uint32_t kDefaultSeconds = 30;
constexpr std::uint32_t kPollMs = 200;

// The program's texts end their lines with CR LF; a terminal wants LF alone.
void Complain(const std::string& text) {
    std::string plain;
    for (char c : text) {
        if (c != '\r') plain.push_back(c);
    }
    std::fprintf(stderr, "ferrovane-session: %s\n", plain.c_str());
}

class PrintingSink final : public fv::MessageSink {
public:
    void ShowMessage(const std::string& text, const std::string&, fv::MessageKind) override {
        Complain(text);
    }
};

void PrintBlocked(fv::PacketRecordQueue& queue) {
    fv::BlockedPacketView view;
    while (queue.PopBlocked(view)) {
        std::printf("blocked %-4s %-15s %-5s ports %5u/%-5u  %s\n",
                    view.packet.direction == 1 ? "to" : "from", view.addressText,
                    fv::ProtocolName(view.packet.protocol).c_str(),
                    unsigned(ntohs(view.packet.firstPort)), unsigned(ntohs(view.packet.secondPort)),
                    view.description);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: ferrovane-session SOCKETDIR BLOCKLIST [SECONDS]\n");
        return 2;
    }
    ::setenv(kDeviceDirVariable, argv[1], 1);
    const std::uint32_t seconds =
        argc == 4 ? std::uint32_t(std::strtoul(argv[3], nullptr, 10)) : kDefaultSeconds;
    std::string registryDir;
    if (std::getenv("FERROVANE_REGISTRY_DIR") == nullptr) {
        char pattern[] = "/tmp/ferrovane-session-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) {
            registryDir = pattern;
            ::setenv("FERROVANE_REGISTRY_DIR", pattern, 1);
        }
    }

    int status = 1;
    {
        PrintingSink sink;
        fv::Settings settings;
        fv::PacketStatistics statistics;
        fv::PacketRecordQueue queue;
        fv::Event blockedNotify(fv::Event::Mode::AutoReset);
        fv::Event grantedNotify(fv::Event::Mode::AutoReset);
        fv::DriverSession session(&sink);

        const std::string devicePath = std::string(argv[1]) + "/" + kControlDeviceName;
        if (!session.CheckDriverVersion()) {
            Complain(session.DriverPresent()
                         ? session.MessageText()
                         : fv::ProbeFailureText(session.ProbeError(), devicePath,
                                                fv::CurrentDeviceUser()));
        } else if (session.Adapters().empty()) {
            std::fprintf(stderr, "ferrovane-session: the driver lists no adapter\n");
        } else {
            for (const auto& [name, info] : session.Adapters()) {
                std::printf("adapter %s (%s) %s %s %s\n", name.c_str(),
                            info.virtualDeviceName.c_str(), info.vendorDescription.c_str(),
                            info.mediumName.c_str(), info.hardwareAddress.c_str());
            }
            fv::SessionParameters parameters;
            parameters.blocklistPath = argv[2];
            parameters.logFolder = fv::Settings::StartupDirectory();
            parameters.logBaseName = fv::kLogFileName;
            parameters.settings = &settings;
            parameters.blockedNotify = &blockedNotify;
            parameters.grantedNotify = &grantedNotify;
            parameters.queue = &queue;
            parameters.statistics = &statistics;
            parameters.selectedAdapter = session.Adapters().begin()->first;
            if (!session.OpenSession(parameters)) {
                Complain("the session did not open. " +
                         fv::SessionFailureText(session.OpenFailure(), parameters.blocklistPath,
                                                parameters.selectedAdapter, devicePath,
                                                fv::CurrentDeviceUser()));
            } else if (!session.SetFiltering(true)) {
                std::fprintf(stderr, "ferrovane-session: filtering did not start\n");
            } else {
                const auto table = session.Blocklist();
                std::printf("filtering %s with %d ranges for %u s\n",
                            parameters.selectedAdapter.c_str(), table ? table->RangeCount() : 0,
                            seconds);
                std::fflush(stdout);
                const std::uint32_t start = fv::TickCount();
                while (fv::TickCount() - start < seconds * 1000u) {
                    fv::WaitForObject(blockedNotify, kPollMs);
                    PrintBlocked(queue);
                }
                session.SetFiltering(false);
                PrintBlocked(queue);
                std::printf("blocked %llu, granted %llu\n",
                            static_cast<unsigned long long>(statistics.GetRunningBlocked()),
                            static_cast<unsigned long long>(statistics.GetRunningGranted()));
                status = 0;
            }
        }
        session.CloseSession();
    }
    if (!registryDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(registryDir, ignored);
    }
    return status;
}
