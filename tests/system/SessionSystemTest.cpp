// The driver session against ferrovane-sys on a real (namespaced) network: a p2p blocklist is
// uploaded, real traffic to and from a listed and an unlisted address flows, and the blocked
// and granted packets come back as statistics, queued records and exact lines of fvconns.log.
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/system/TestNetwork.h"
#include "fv_drv/host/HostOptions.h"
#include "fv_gui/client/DriverSession.h"
#include "fv_gui/logging/PacketRecordQueue.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/NamedEvents.h"
#include "fv_contract/DeviceNames.h"

namespace {

using namespace fv::systest;

class NoMessages final : public fv::MessageSink {
public:
    void ShowMessage(const std::string& text, const std::string&, fv::MessageKind) override {
        ADD_FAILURE() << "message box: " << text;
    }
};

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

bool Contains(const std::string& line, const std::string& part) {
    return line.find(part) != std::string::npos;
}

TEST(SessionSystemTest, BlockedAndGrantedTrafficReachesTheLog) {
    FV_REQUIRE_PRIVATE_NETWORK();
    TestNetwork network(FV_FERROVANE_SYS);
    ASSERT_TRUE(network.Ready()) << "the test network did not come up";
    const std::filesystem::path work = std::filesystem::path(network.DeviceSocket()).parent_path();
    ::setenv(kDeviceDirVariable, work.c_str(), 1);
    const std::filesystem::path state = std::filesystem::temp_directory_path() /
                                        ("fvsession-" + std::to_string(::getpid()));
    std::filesystem::create_directories(state / "logs");
    ::setenv("FERROVANE_REGISTRY_DIR", (state / "reg").c_str(), 1);
    {
        std::ofstream list(state / "list.p2p", std::ios::binary);
        list << "# test blocklist\r\nTest Range:" << kListedRemote << "-" << kListedRemote
             << "\r\nFar Away:198.18.0.0-198.19.255.255\r\n";
    }

    NoMessages sink;
    fv::Settings settings((state / "program").string());
    fv::PacketStatistics statistics;
    fv::PacketRecordQueue queue;
    fv::Event blockedNotify(fv::Event::Mode::AutoReset), grantedNotify(fv::Event::Mode::AutoReset);
    {
        fv::DriverSession session(&sink);
        ASSERT_TRUE(session.CheckDriverVersion()) << session.MessageText();
        ASSERT_EQ(session.Adapters().count(kLower), 1u);
        EXPECT_EQ(session.Adapters().at(kLower).virtualDeviceName, kUpper);
        fv::SessionParameters p;
        p.blocklistPath = (state / "list.p2p").string();
        p.logFolder = (state / "logs").string() + "/";
        p.logBaseName = fv::kLogFileName;
        p.settings = &settings;
        p.blockedNotify = &blockedNotify;
        p.grantedNotify = &grantedNotify;
        p.queue = &queue;
        p.statistics = &statistics;
        p.selectedAdapter = kLower;
        ASSERT_TRUE(session.OpenSession(p));
        ASSERT_TRUE(session.SetFiltering(true));

        EXPECT_FALSE(UdpEcho(nullptr, kListedRemote));
        EXPECT_FALSE(UdpEcho(nullptr, kListedRemote));
        EXPECT_TRUE(UdpEcho(nullptr, kUnlistedRemote));
        EXPECT_TRUE(UdpEcho(nullptr, kUnlistedRemote));
        // One datagram from the listed address towards the workstation.
        const pid_t sender = SpawnIn(network.RemoteNamespace(), [] {
            const int fd = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in source = Address(kListedRemote, kEchoPort + 2);
            sockaddr_in to = Address(kWorkstationAddress, kEchoPort + 1);
            if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) return 1;
            return sendto(fd, "in", 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 2 ? 0 : 1;
        });
        EXPECT_EQ(WaitExit(sender), 0);
        for (int i = 0; i < 300 && (statistics.GetRunningBlocked() < 3 ||
                                    statistics.GetRunningGranted() < 4);
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(session.SetFiltering(false));
        session.CloseSession();
    }
    EXPECT_EQ(statistics.GetRunningBlocked(), 3u);
    EXPECT_GE(statistics.GetRunningGranted(), 4u);  // two echoes out and back
    fv::BlockedPacketView view;
    int queued = 0;
    while (queue.PopBlocked(view)) {
        EXPECT_STREQ(view.description, "Test Range");
        EXPECT_STREQ(view.addressText, kListedRemote);
        ++queued;
    }
    EXPECT_EQ(queued, 3);

    const auto lines = Lines((state / "logs" / fv::kLogFileName).string());
    int banners = 0, outgoing = 0, incoming = 0, granted = 0, footers = 0;
    const std::string blockedOut = std::string("  [<-] BLOCKED [!] - Destination is Test Range (") +
                                   kListedRemote + ") [Protocol: UDP - src: ";
    const std::string blockedIn = std::string("  [->] REJECTED - Source is Test Range (") +
                                  kListedRemote + ") [Protocol: UDP - src: " +
                                  std::to_string(kEchoPort + 2) + " / dst: " +
                                  std::to_string(kEchoPort + 1) + "]\r";
    const std::string grantedOut = std::string("  [<-] non-hostile destination (") + kUnlistedRemote +
                                   "), access granted [Protocol: UDP - src: ";
    for (const std::string& line : lines) {
        banners += line == "There are 131073 known IP addresses in 2 ranges.\r";
        footers += Contains(line, "LOGGING STOPPED on ");
        if (Contains(line, blockedOut)) {
            ++outgoing;
            EXPECT_TRUE(line.ends_with(" / dst: " + std::to_string(kEchoPort) + "]\r")) << line;
        }
        incoming += line.ends_with(blockedIn);
        granted += Contains(line, grantedOut);
        // Every granted line is for an address not seen before.
        EXPECT_FALSE(Contains(line, "non-hostile source (" + std::string(kUnlistedRemote)));
    }
    EXPECT_EQ(banners, 1);
    EXPECT_EQ(outgoing, 2);
    EXPECT_EQ(incoming, 1);
    EXPECT_EQ(granted, 1);
    EXPECT_EQ(footers, 1);

    for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
        fv::ReleaseNamedEvent(name);
    }
    std::error_code ignored;
    std::filesystem::remove_all(state, ignored);
}

}  // namespace
