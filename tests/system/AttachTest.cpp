// ferrovane-sys --attach on the workstation end of a veth pair whose address stays where it is:
// listed traffic is dropped both ways and recorded, the rest passes, the ruleset is the same
// after a stop and after a crash and restart, and a killed daemon leaves traffic flowing.
#include "tests/system/AttachFixture.h"

namespace {

using namespace fv::systest;

TEST_F(AttachTest, ListedTrafficIsDroppedBothWaysAndRecordedTheRestPasses) {
    ASSERT_TRUE(StartDaemon());
    Filter();
    ExpectListedDroppedBothWaysAndRecorded();
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
              FV_FERROVANE_SYS, "--attach", kInterface, "--attach-mode", "queue", "--device-dir", deviceDir.c_str(),
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
