// ferrovane-sys --attach on the workstation end of a veth pair whose address stays where it is:
// listed traffic is dropped both ways and recorded, the rest passes, the ruleset is the same
// after a stop and after a crash and restart, and a killed daemon leaves traffic flowing.
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

#include "fv_drv/contract/ControlCodes.h"
#include "fv_drv/contract/PacketEventRecord.h"
#include "fv_drv/Driver/RangeTable.h"
#include "fv_gui/client/AdapterEnumeration.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/NamedEvents.h"
#include "fv_drv/contract/DeviceNames.h"
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
bool Queued() {
    return fv::systest::Run(std::string("nft list ruleset 2>/dev/null | grep -q -E 'oifname \"") +
                            kInterface + "\" .*(jump ferrovane-" + kInterface + "|queue)'");
}

// Waits for `condition` no longer than `bound`, however long each look takes.
bool WithinBound(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool WaitUntil(const std::function<bool()>& condition, int ms = 5000) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
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
            execl(FV_FERROVANE_SYS, FV_FERROVANE_SYS, "--attach", kInterface, "--device-dir",
                  deviceDir.c_str(), static_cast<char*>(nullptr));
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

    std::string remote;
    std::filesystem::path deviceDir;
    std::filesystem::path log;
    pid_t servers = -1;
    pid_t daemon = -1;
    std::string before;
    std::shared_ptr<fv::Event> blocked, granted, exitEvent;
    fv::DeviceHandle handle;
};

bool Has(const std::vector<PacketEventRecord>& records, std::uint8_t protocol,
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

TEST_F(AttachTest, ListedTrafficIsDroppedBothWaysAndRecordedTheRestPasses) {
    ASSERT_TRUE(StartDaemon());
    Filter();
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

TEST_F(AttachTest, StopAndCrashLeaveTheRulesetAsItWas) {
    ASSERT_TRUE(StartDaemon());
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(Ruleset(), before);

    // The user's own rules stay as they are, beside and after ours.
    ASSERT_TRUE(fv::systest::Run("iptables -t mangle -A PREROUTING -i lo -j MARK --set-mark 7"));
    ASSERT_TRUE(fv::systest::Run("nft add table inet mine"));
    before = Ruleset();
    ASSERT_TRUE(StartDaemon());
    Filter();
    EXPECT_FALSE(UdpEcho(nullptr, kListed));
    handle.Close();
    EXPECT_EQ(Stop(SIGKILL), -1);
    // Nobody reads the queue: packets pass rather than wait for a verdict.
    EXPECT_TRUE(UdpEcho(nullptr, kListed));
    EXPECT_TRUE(TcpEcho(kListed));
    ASSERT_TRUE(StartDaemon());
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(Ruleset(), before);
    fv::systest::Run("iptables -t mangle -D PREROUTING -i lo -j MARK --set-mark 7");
    fv::systest::Run("nft delete table inet mine");
}

// A reader that falls behind must not turn into an open door: a flood larger than the queue,
// sent while the daemon is held still, gets nothing from a listed address through.
TEST_F(AttachTest, AFloodBeyondTheQueueLetsNothingListedThrough) {
    constexpr int kFlood = 6000;  // more than the queue holds
    ASSERT_TRUE(StartDaemon());
    Filter();
    const int listener = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = Address(kAddress, kEchoPort + 3);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    SetTimeout(listener, 300);
    ASSERT_EQ(kill(daemon, SIGSTOP), 0);
    const pid_t sender = SpawnIn(remote, [] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in source = Address(kListed, kEchoPort + 4);
        sockaddr_in to = Address(kAddress, kEchoPort + 3);
        if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) return 1;
        for (int i = 0; i < kFlood; ++i) {
            if (sendto(fd, "in", 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) != 2) return 1;
        }
        return 0;
    });
    EXPECT_EQ(WaitExit(sender), 0);
    char buffer[8];
    EXPECT_LT(recv(listener, buffer, sizeof buffer, 0), 0) << "a listed packet passed unjudged";
    ASSERT_EQ(kill(daemon, SIGCONT), 0);
    EXPECT_LT(recv(listener, buffer, sizeof buffer, 0), 0) << "a listed packet passed when judged";
    close(listener);
    // What was queued is judged and the filter goes on as before.
    EXPECT_FALSE(UdpEcho(nullptr, kListed));
    EXPECT_TRUE(UdpEcho(nullptr, kUnlisted));
}

// Binds an abstract socket name as an unprivileged user and keeps it until killed; its pid.
pid_t HoldAbstractName(const std::string& name) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        constexpr uid_t kNobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(1);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) _exit(1);
        const char byte = 1;
        if (write(ready[1], &byte, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    const bool bound = pid > 0 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    if (!bound && pid > 0) {
        kill(pid, SIGKILL);
        WaitExit(pid);
        return -1;
    }
    return pid;
}

// Nobody without the daemon's rights can keep it from attaching; another daemon on the same
// interface and namespace is still refused.
TEST_F(AttachTest, ASecondDaemonCannotAttachTheSameInterface) {
    const pid_t squatter = HoldAbstractName(std::string("ferrovane-attach/") + kInterface);
    ASSERT_GT(squatter, 0);
    const bool started = StartDaemon();
    kill(squatter, SIGKILL);
    WaitExit(squatter);
    ASSERT_TRUE(started);
    const pid_t second = Start();
    int status = 0;
    ASSERT_EQ(waitpid(second, &status, 0), second);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    // The first keeps its rules and its queue.
    EXPECT_TRUE(Queued());
    Filter();
    EXPECT_FALSE(UdpEcho(nullptr, kListed));
    EXPECT_TRUE(UdpEcho(nullptr, kUnlisted));
}

// Someone else's flush leaves every packet unjudged while the program still shows filtering:
// the daemon notices, puts its rules back and says so each time.
TEST_F(AttachTest, RulesRemovedBySomeoneElseArePutBack) {
    constexpr auto kBound = std::chrono::seconds(5);
    log = deviceDir / "daemon.log";
    ASSERT_TRUE(StartDaemon());
    Filter();
    ASSERT_FALSE(UdpEcho(nullptr, kListed));
    const char* removals[] = {"nft flush ruleset", "iptables -t mangle -F"};
    for (const char* removal : removals) {
        ASSERT_TRUE(fv::systest::Run(removal));
        EXPECT_TRUE(WithinBound(Queued, kBound)) << "not put back after " << removal;
        EXPECT_FALSE(UdpEcho(nullptr, kListed)) << removal;
        EXPECT_TRUE(UdpEcho(nullptr, kUnlisted)) << removal;
    }
    handle.Close();
    EXPECT_EQ(Stop(), 0);
    // The flush took everyone's rules; of ours, put back since, nothing stays.
    EXPECT_EQ(Ruleset(), "");
    std::ifstream lines(log);
    std::string line;
    int told = 0;
    while (std::getline(lines, line)) told += line.find("fva0: the rules were removed; put back") != std::string::npos;
    EXPECT_EQ(told, int(std::size(removals)));
}

// Stopping takes away what we added and nothing of another tool's in the same table, even where
// the tool's chain is as empty as the ones we made.
TEST_F(AttachTest, StopLeavesAnotherToolsPartsOfMangle) {
    ASSERT_TRUE(StartDaemon());
    ASSERT_TRUE(fv::systest::Run("iptables -t mangle -N other-tool"));
    EXPECT_EQ(Stop(), 0);
    EXPECT_TRUE(fv::systest::Run("nft list chain ip mangle other-tool >/dev/null 2>&1"));
    EXPECT_EQ(Output("nft list ruleset").find("ferrovane"), std::string::npos);
    // The chains we made for our jumps went with them.
    EXPECT_FALSE(fv::systest::Run("nft list chain ip mangle PREROUTING >/dev/null 2>&1"));

    ASSERT_TRUE(StartDaemon());
    ASSERT_TRUE(fv::systest::Run("iptables -t mangle -A POSTROUTING -o lo -j MARK --set-mark 9"));
    EXPECT_EQ(Stop(), 0);
    EXPECT_TRUE(fv::systest::Run("iptables -t mangle -C POSTROUTING -o lo -j MARK --set-mark 9"));
    EXPECT_TRUE(fv::systest::Run("nft list chain ip mangle other-tool >/dev/null 2>&1"));
    EXPECT_EQ(Output("nft list ruleset").find("ferrovane"), std::string::npos);
    fv::systest::Run("nft delete table ip mangle");
    EXPECT_EQ(Ruleset(), before);
}

// Where iptables is the legacy kind only, under the daemon's own user as the service runs it:
// it can neither open nor make root's lock file, and must still put its rules in and take
// them out again.
TEST_F(AttachTest, LegacyIptablesServesADaemonWithoutRoot) {
    constexpr uid_t kNobody = 65534;
    // The daemon sees only legacy iptables (as "iptables") and nft where it looks for tools.
    const std::filesystem::path tools = deviceDir / "sbin";
    std::filesystem::create_directories(tools);
    ASSERT_TRUE(std::filesystem::copy_file("/usr/sbin/xtables-legacy-multi", tools / "iptables"));
    ASSERT_TRUE(std::filesystem::copy_file("/usr/sbin/nft", tools / "nft"));
    ASSERT_EQ(chown(deviceDir.c_str(), kNobody, kNobody), 0);
    const auto legacyRules = [] { return Output("iptables-legacy-save -t mangle 2>/dev/null"); };
    ASSERT_EQ(legacyRules().find("ferrovane"), std::string::npos);
    log = deviceDir / "daemon.log";
    const auto asService = [this, tools] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(tools.c_str(), "/usr/sbin", nullptr, MS_BIND, nullptr) != 0) {
            return false;
        }
        execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
              "--inh-caps=+net_admin,+net_raw", "--ambient-caps=+net_admin,+net_raw", "--",
              FV_FERROVANE_SYS, "--attach", kInterface, "--device-dir", deviceDir.c_str(),
              static_cast<char*>(nullptr));
        return false;
    };
    const auto legacyQueued = [&] {
        return legacyRules().find(std::string("-A POSTROUTING -o ") + kInterface + " -j ferrovane-" +
                                  kInterface) != std::string::npos;
    };
    ASSERT_TRUE(StartDaemon(asService, legacyQueued)) << Output("cat " + log.string());
    Filter();
    EXPECT_FALSE(UdpEcho(nullptr, kListed));
    EXPECT_TRUE(UdpEcho(nullptr, kUnlisted));
    // Legacy tables have no generation to watch: a flush must be noticed all the same.
    ASSERT_TRUE(fv::systest::Run("iptables-legacy -w -t mangle -F"));
    EXPECT_TRUE(WithinBound(legacyQueued, std::chrono::seconds(5)));
    EXPECT_FALSE(UdpEcho(nullptr, kListed));
    handle.Close();
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(legacyRules().find("ferrovane"), std::string::npos);
}

// A run that used legacy iptables and crashed left its rules in the legacy tables, where they
// still queue the interface's packets: a run on iptables-nft takes them away as well.
TEST_F(AttachTest, LeftoversInTheLegacyTablesGoToo) {
    const std::string legacy = "iptables-legacy -w -t mangle ";
    const std::string chain = std::string("ferrovane-") + kInterface;
    for (const std::string& rule :
         {"-N " + chain, "-A " + chain + " -j NFQUEUE --queue-num 0 --queue-bypass",
          "-A PREROUTING -i " + std::string(kInterface) + " -j " + chain,
          "-A POSTROUTING -o " + std::string(kInterface) + " -j " + chain}) {
        ASSERT_TRUE(fv::systest::Run(legacy + rule));
    }
    ASSERT_TRUE(StartDaemon());
    EXPECT_EQ(Output("iptables-legacy-save -t mangle").find("ferrovane"), std::string::npos);
    Filter();
    EXPECT_FALSE(UdpEcho(nullptr, kListed));
    EXPECT_TRUE(UdpEcho(nullptr, kUnlisted));
    handle.Close();
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(Output("iptables-legacy-save -t mangle").find("ferrovane"), std::string::npos);
}

}  // namespace
