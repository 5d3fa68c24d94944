// The fixture of the --attach tests: the workstation end of a veth pair whose address stays
// where it is, echo servers at a listed and an unlisted address behind it, and a daemon
// attached to it in the mode the test names.
#pragma once

#include <arpa/inet.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/un.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <cstring>
#include <memory>
#include <vector>

#include "fv_contract/ControlCodes.h"
#include "fv_contract/PacketEventRecord.h"
#include "fv_drv/Driver/RangeTable.h"
#include "fv_gui/client/AdapterEnumeration.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/NamedEvents.h"
#include "fv_contract/DeviceNames.h"
#include "tests/WaitUntil.h"
#include "tests/system/TestNetwork.h"
#include "tests/system/DeviceCalls.h"

namespace {

using namespace fv::systest;

constexpr const char* kInterface = "fva0";
constexpr const char* kRemoteEnd = "fvar0";
constexpr const char* kAddress = "10.203.0.2";
constexpr const char* kUnlisted = "10.203.0.1";
constexpr const char* kListed = "10.203.0.66";

// Both directions are queued: the outgoing rule is the last one the daemon adds.
inline bool Queued() {
    return fv::systest::Run(std::string("nft list ruleset 2>/dev/null | grep -q -E 'oifname \"") +
                            kInterface + "\" .*(jump ferrovane-" + kInterface + "|queue)'");
}

// Waits for `condition` no longer than `bound`, however long each look takes.
inline bool WithinBound(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

using fv::test::WaitUntil;

inline bool Has(const std::vector<PacketEventRecord>& records, std::uint8_t protocol,
         std::uint8_t direction, std::uint16_t port = 0) {
    for (const auto& r : records) {
        if (ntohl(r.remoteAddress) == HostOrder(kListed) && r.protocol == protocol &&
            r.direction == direction &&
            (port == 0 || ntohs(r.firstPort) == port || ntohs(r.secondPort) == port)) {
            return true;
        }
    }
    return false;
}

class AttachTest : public ::testing::Test {
protected:
    void SetUp() override {
        FV_REQUIRE_PRIVATE_NETWORK();
        remote = "fvattach-" + std::to_string(getpid());
        deviceDir = std::filesystem::temp_directory_path() / ("fvatt-" + std::to_string(getpid()));
        std::filesystem::create_directories(deviceDir);
        ASSERT_TRUE(fv::systest::Run("ip netns add " + remote));
        ASSERT_TRUE(fv::systest::Run(std::string("ip link add ") + kInterface + " type veth peer name " +
                        kRemoteEnd + " netns " + remote));
        ASSERT_TRUE(fv::systest::Run(std::string("ip link set ") + kInterface + " up"));
        ASSERT_TRUE(fv::systest::Run(std::string("ip addr add ") + kAddress + "/24 dev " + kInterface));
        ASSERT_TRUE(fv::systest::Run("ip -n " + remote + " link set lo up"));
        ASSERT_TRUE(fv::systest::Run("ip -n " + remote + " link set " + kRemoteEnd + " up"));
        ASSERT_TRUE(fv::systest::Run("ip -n " + remote + " addr add " + kUnlisted + "/24 dev " + kRemoteEnd));
        ASSERT_TRUE(fv::systest::Run("ip -n " + remote + " addr add " + kListed + "/24 dev " + kRemoteEnd));
        servers = SpawnIn(remote, EchoServers);
        ASSERT_TRUE(WaitUntil([] { return UdpEcho(nullptr, kUnlisted, 100); }));
        before = Ruleset();
    }
    void TearDown() override {
        handle.Close();
        for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
            fv::ReleaseNamedEvent(name);
        }
        Stop();
        if (servers > 0) {
            kill(servers, SIGKILL);
            WaitExit(servers);
        }
        fv::systest::Run(std::string("ip link del ") + kInterface + " 2>/dev/null");
        fv::systest::Run("ip netns del " + remote + " 2>/dev/null");
        std::filesystem::remove_all(deviceDir);
    }

    // Starts a daemon attached to the interface; its pid. Its errors go to `log` when set;
    // `prepare` runs in the child first.
    pid_t Start(const std::function<bool()>& prepare = {}) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (!log.empty()) {
                const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
                if (fd < 0 || dup2(fd, 2) != 2) _exit(126);
            }
            if (prepare && !prepare()) _exit(125);
            execl(FV_FERROVANE_SYS, FV_FERROVANE_SYS, "--attach", kInterface, "--attach-mode",
                  attachMode, "--device-dir", deviceDir.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }
    // A crashed daemon leaves its socket file and its rules: the new one answers only after
    // it has removed the old rules, and adds its own after that.
    bool StartDaemon(const std::function<bool()>& prepare = {},
                     const std::function<bool()>& queued = Queued) {
        daemon = Start(prepare);
        return WaitUntil([&] { return fv::OpenDevice((deviceDir / "Ferrovane").string()).Valid(); }) &&
               WaitUntil(queued);
    }
    int Stop(int signal = SIGTERM) {
        if (daemon <= 0) return -1;
        kill(daemon, signal);
        int status = 0;
        waitpid(daemon, &status, 0);
        daemon = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool Call(std::uint32_t code, const void* in = nullptr, std::uint32_t inLength = 0,
              void* out = nullptr, std::uint32_t outLength = 0, std::uint32_t* returned = nullptr) {
        return fv::DeviceIoControl(handle, code, in, inLength, out, outLength, returned);
    }

    // Opens the attached adapter and blocks the listed remote, reporting what is dropped.
    void Filter() {
        blocked = fv::CreateNamedEvent(kBlockedEventName, fv::Event::Mode::AutoReset);
        granted = fv::CreateNamedEvent(kGrantedEventName, fv::Event::Mode::AutoReset);
        exitEvent = fv::CreateNamedEvent(kExitEventName, fv::Event::Mode::AutoReset);
        handle = fv::OpenDevice((deviceDir / "Ferrovane").string());
        ASSERT_TRUE(handle.Valid());
        for (std::uint32_t code :
             {IOCTL_CREATE_BLOCKED_EVENT, IOCTL_CREATE_GRANTED_EVENT, IOCTL_CREATE_EXIT_EVENT}) {
            ASSERT_TRUE(Call(code));
        }
        const std::u16string lower(kInterface, kInterface + std::strlen(kInterface));
        std::uint32_t word = 0;
        ASSERT_TRUE(Call(IOCTL_OPEN_ADAPTER, lower.data(), std::uint32_t(lower.size() * 2), &word, 4));
        const std::vector<std::uint8_t> upload = fv::systest::SingleAddressTable(HostOrder(kListed));
        ASSERT_TRUE(Call(IOCTL_SET_RANGES, upload.data(), std::uint32_t(upload.size())));
        ASSERT_TRUE(Call(IOCTL_START_FILTER));
        const std::uint8_t on = 1;
        ASSERT_TRUE(Call(IOCTL_SET_REPORT_BLOCKED, &on, 1));
    }

    std::vector<PacketEventRecord> TakeBlocked() { return fv::systest::TakeBlockedRecords(handle); }

    // With the daemon started and Filter() done: listed traffic is dropped both ways for ICMP,
    // UDP and TCP and recorded, the rest passes, the counters saw it, and the adapter is
    // listed under the interface's own name.
    void ExpectListedDroppedBothWaysAndRecorded() {
        // The interface keeps its address: nothing was moved anywhere.
        EXPECT_TRUE(fv::systest::Run(std::string("ip -o addr show dev ") + kInterface + " | grep -q " + kAddress));
        EXPECT_FALSE(Ping(kListed));
        EXPECT_FALSE(UdpEcho(nullptr, kListed));
        EXPECT_FALSE(TcpEcho(kListed));
        EXPECT_TRUE(Ping(kUnlisted));
        EXPECT_TRUE(UdpEcho(nullptr, kUnlisted));
        EXPECT_TRUE(TcpEcho(kUnlisted));

        const int listener = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = Address(kAddress, kEchoPort + 1);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        SetTimeout(listener, 700);
        for (const char* from : {kListed, kUnlisted}) {
            const pid_t sender = SpawnIn(remote, [from] {
                const int fd = socket(AF_INET, SOCK_DGRAM, 0);
                sockaddr_in source = Address(from, kEchoPort + 2);
                sockaddr_in to = Address(kAddress, kEchoPort + 1);
                if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) return 1;
                return sendto(fd, "in", 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 2 ? 0 : 1;
            });
            EXPECT_EQ(WaitExit(sender), 0);
            char buffer[8];
            EXPECT_EQ(recv(listener, buffer, sizeof buffer, 0) == 2, from == kUnlisted) << from;
        }
        close(listener);

        const auto records = TakeBlocked();
        EXPECT_TRUE(Has(records, 1, 1));
        EXPECT_TRUE(Has(records, 17, 1, kEchoPort));
        EXPECT_TRUE(Has(records, 6, 1, kEchoPort));
        EXPECT_TRUE(Has(records, 17, 0, kEchoPort + 2));
        std::array<std::uint32_t, 6> s{};
        ASSERT_TRUE(Call(IOCTL_GET_STATS, nullptr, 0, s.data(), kStatsSize));
        EXPECT_GE(s[1], 3u);
        EXPECT_GE(s[5], 1u);
        EXPECT_GT(s[0], s[1]);
        EXPECT_GT(s[4], s[5]);

        // Listed under the interface's own name, the virtual adapter marked.
        fv::DeviceHandle control = fv::OpenDevice((deviceDir / "Ferrovane").string());
        std::vector<std::uint8_t> list(fv::kBindingListBufferSize);
        std::uint32_t returned = 0;
        ASSERT_TRUE(fv::DeviceIoControl(control, IOCTL_ENUM_BINDINGS, nullptr, 0, list.data(),
                                        std::uint32_t(list.size()), &returned));
        const auto pairs = fv::ParseBindingList(list.data(), returned);
        ASSERT_EQ(pairs.size(), 1u);
        EXPECT_EQ(pairs[0].first, u"fv@fva0");
        EXPECT_EQ(pairs[0].second, u"fva0");
    }

    const char* attachMode = "queue";
    std::string remote;
    std::filesystem::path deviceDir;
    std::filesystem::path log;
    pid_t servers = -1;
    pid_t daemon = -1;
    std::string before;
    std::shared_ptr<fv::Event> blocked, granted, exitEvent;
    fv::DeviceHandle handle;
};


}  // namespace
