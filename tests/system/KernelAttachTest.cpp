// ferrovane-sys --attach with the decision in the kernel: what the queue medium does, and
// protection that outlives the daemon: a killed daemon's filters go on filtering, the next
// daemon takes them over, and a stop or --detach leaves the interface's tc state as it was.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "fv_drv/ndis/bpf/KernelFilter.h"
#include "tests/system/AttachFixture.h"

namespace {

using namespace fv::systest;

std::string TcState() {
    const std::string dev = std::string(" dev ") + kInterface;
    return Output("tc qdisc show" + dev + "; tc filter show" + dev + " ingress; tc filter show" + dev +
                  " egress");
}

bool InKernel() {
    const std::string dev = std::string(" dev ") + kInterface;
    return Output("tc filter show" + dev + " ingress").find("fv_ingress") != std::string::npos &&
           Output("tc filter show" + dev + " egress").find("fv_egress") != std::string::npos;
}

// A stand-in for the service manager's side of NOTIFY_SOCKET: keeps what comes with FDSTORE=1.
class DescriptorStore {
public:
    explicit DescriptorStore(std::string name) : name_(std::move(name)) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name_.data() + 1, name_.size() - 1);
        bind(fd_, reinterpret_cast<sockaddr*>(&address),
             socklen_t(offsetof(sockaddr_un, sun_path) + name_.size()));
    }
    ~DescriptorStore() {
        close(fd_);
        for (auto& [name, fd] : kept) close(fd);
    }
    const std::string& Name() const { return name_; }
    // Reads what has arrived; the count kept.
    std::size_t Collect() {
        for (;;) {
            char text[512];
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
            iovec part{text, sizeof text - 1};
            msghdr header{};
            header.msg_iov = &part;
            header.msg_iovlen = 1;
            header.msg_control = control;
            header.msg_controllen = sizeof control;
            const ssize_t n = recvmsg(fd_, &header, MSG_CMSG_CLOEXEC);
            if (n < 0) return kept.size();
            const std::string message(text, std::size_t(n));
            cmsghdr* rights = CMSG_FIRSTHDR(&header);
            const auto at = message.find("FDNAME=");
            if (rights == nullptr || rights->cmsg_type != SCM_RIGHTS || at == std::string::npos) continue;
            int fd;
            std::memcpy(&fd, CMSG_DATA(rights), sizeof fd);
            kept.emplace_back(message.substr(at + 7, message.find('\n', at) - at - 7), fd);
        }
    }
    std::vector<std::pair<std::string, int>> kept;

private:
    std::string name_;
    int fd_ = -1;
};

std::vector<std::uint8_t> TableOf(std::vector<RangeEntry> entries) {
    const auto count = std::uint32_t(entries.size());
    std::vector<std::uint8_t> image(RangeTableImageSize(count), 0);
    std::memcpy(image.data(), &count, sizeof count);
    std::memcpy(image.data() + sizeof count, entries.data(), entries.size() * sizeof(RangeEntry));
    return image;
}

class KernelAttachTest : public AttachTest {
protected:
    void SetUp() override {
        AttachTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        attachMode = "bpf";
        ndis::bpf_media::KernelFilter probe;
        std::string error;
        if (!probe.Load(error)) GTEST_SKIP() << "BPF is not available here: " << error;
        tcBefore = TcState();
    }
    bool StartInKernel() { return StartDaemon({}, InKernel); }
    // Opens the adapter again on a fresh handle, as a restarted program does.
    void Reopen() {
        handle = fv::OpenDevice((deviceDir / "Ferrovane").string());
        ASSERT_TRUE(handle.Valid());
        const std::u16string lower(kInterface, kInterface + std::strlen(kInterface));
        std::uint32_t word = 0;
        ASSERT_TRUE(Call(IOCTL_OPEN_ADAPTER, lower.data(), std::uint32_t(lower.size() * 2), &word, 4));
    }
    std::array<std::uint32_t, 6> Stats() {
        std::array<std::uint32_t, 6> s{};
        EXPECT_TRUE(Call(IOCTL_GET_STATS, nullptr, 0, s.data(), kStatsSize));
        return s;
    }

    std::string tcBefore;
};

TEST_F(KernelAttachTest, ListedTrafficIsDroppedBothWaysAndRecordedTheRestPasses) {
    ASSERT_TRUE(StartInKernel());
    Filter();
    ExpectListedDroppedBothWaysAndRecorded();
}

// Our filters go and the qdisc only if we made it and nobody else filters on it since: another
// tool's clsact and filters stay.
TEST_F(KernelAttachTest, StopLeavesTheTcStateAsItWas) {
    ASSERT_TRUE(StartInKernel());
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(TcState(), tcBefore);

    const std::string dev = std::string(" dev ") + kInterface;
    ASSERT_TRUE(StartInKernel());
    ASSERT_TRUE(fv::systest::Run("tc filter add" + dev + " egress prio 9 protocol all u32 match u32 0 0 classid 1:1"));
    EXPECT_EQ(Stop(), 0);
    const std::string left = TcState();
    EXPECT_NE(left.find("clsact"), std::string::npos) << left;
    EXPECT_NE(left.find("u32"), std::string::npos) << left;
    EXPECT_EQ(left.find("fv_"), std::string::npos) << left;
    ASSERT_TRUE(fv::systest::Run("tc qdisc del" + dev + " clsact"));

    ASSERT_TRUE(fv::systest::Run("tc qdisc add" + dev + " clsact"));
    ASSERT_TRUE(fv::systest::Run("tc filter add" + dev + " ingress prio 7 protocol all u32 match u32 0 0 classid 1:1"));
    tcBefore = TcState();
    ASSERT_TRUE(StartInKernel());
    Filter();
    EXPECT_FALSE(UdpEcho(nullptr, kListed));
    EXPECT_TRUE(UdpEcho(nullptr, kUnlisted));
    handle.Close();
    EXPECT_EQ(Stop(SIGINT), 0);
    EXPECT_EQ(TcState(), tcBefore);
}

TEST_F(KernelAttachTest, ACrashLeavesFilteringInForceAndTheNextDaemonTakesItOver) {
    ASSERT_TRUE(StartInKernel());
    Filter();
    ASSERT_FALSE(UdpEcho(nullptr, kListed));
    const auto countedBefore = Stats();
    handle.Close();
    EXPECT_EQ(Stop(SIGKILL), -1);
    EXPECT_TRUE(InKernel());
    EXPECT_FALSE(UdpEcho(nullptr, kListed)) << "the crash opened the door";
    EXPECT_FALSE(TcpEcho(kListed));
    EXPECT_TRUE(UdpEcho(nullptr, kUnlisted));

    // While the next one starts and after, the listed address stays blocked with no upload.
    daemon = Start();
    EXPECT_FALSE(UdpEcho(nullptr, kListed, 300));
    ASSERT_TRUE(WaitUntil([&] { return fv::OpenDevice((deviceDir / "Ferrovane").string()).Valid(); }));
    Reopen();
    EXPECT_FALSE(UdpEcho(nullptr, kListed));
    const auto countedAfter = Stats();
    EXPECT_GE(countedAfter[1], countedBefore[1] + 1) << "the counters did not carry over";
    EXPECT_GE(countedAfter[0], countedBefore[0]);

    // A table it is given is the one in force. (TCP: a UDP echo answers from the remote's
    // first address whichever was asked.)
    const std::vector<std::uint8_t> other = SingleAddressTable(HostOrder(kUnlisted));
    ASSERT_TRUE(Call(IOCTL_SET_RANGES, other.data(), std::uint32_t(other.size())));
    EXPECT_FALSE(TcpEcho(kUnlisted));
    EXPECT_TRUE(TcpEcho(kListed));
    handle.Close();
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(TcState(), tcBefore);

    // With no daemon to come back, --detach takes a crashed one's filters away.
    ASSERT_TRUE(StartInKernel());
    EXPECT_EQ(Stop(SIGKILL), -1);
    ASSERT_TRUE(InKernel());
    EXPECT_TRUE(fv::systest::Run(std::string(FV_FERROVANE_SYS) + " --detach " + kInterface + " 2>/dev/null"));
    EXPECT_EQ(TcState(), tcBefore);
    EXPECT_FALSE(fv::systest::Run(std::string(FV_FERROVANE_SYS) + " --detach " + kInterface + " 2>/dev/null"));
}

// The service's user has CAP_BPF and CAP_NET_ADMIN, not CAP_SYS_ADMIN, so a restarted daemon
// cannot open a crashed one's filters by id: the service manager's descriptor store hands
// them over, and filtering goes on with no gap.
TEST_F(KernelAttachTest, WithoutSysAdminTheDescriptorStoreCarriesTheFiltersOverACrash) {
    constexpr uid_t kNobody = 65534;
    constexpr std::size_t kDescriptors = 7;  // two programs, five maps
    ASSERT_EQ(chown(deviceDir.c_str(), kNobody, kNobody), 0);
    log = deviceDir / "daemon.log";
    DescriptorStore store("@fv-store-" + std::to_string(getpid()));
    std::vector<std::pair<std::string, int>> handOver;
    const auto asService = [&] {
        setenv("NOTIFY_SOCKET", store.Name().c_str(), 1);
        if (!handOver.empty()) {
            std::string names;
            std::vector<int> high;
            for (const auto& [name, fd] : handOver) {
                high.push_back(fcntl(fd, F_DUPFD_CLOEXEC, 100));
                names += (names.empty() ? "" : ":") + name;
            }
            for (std::size_t i = 0; i < high.size(); ++i) {
                if (dup2(high[i], int(3 + i)) != int(3 + i)) return false;
            }
            setenv("LISTEN_FDS", std::to_string(high.size()).c_str(), 1);
            setenv("LISTEN_FDNAMES", names.c_str(), 1);
            setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
        }
        execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
              "--inh-caps=+net_admin,+bpf", "--ambient-caps=+net_admin,+bpf", "--",
              FV_FERROVANE_SYS, "--attach", kInterface, "--attach-mode", "bpf", "--device-dir",
              deviceDir.c_str(), static_cast<char*>(nullptr));
        return false;
    };
    ASSERT_TRUE(StartDaemon(asService, InKernel)) << Output("cat " + log.string());
    ASSERT_TRUE(WaitUntil([&] { return store.Collect() >= kDescriptors; }));
    Filter();
    ASSERT_FALSE(UdpEcho(nullptr, kListed));
    ASSERT_TRUE(WaitUntil([&] { return store.Collect() > kDescriptors; }));  // and the table
    handle.Close();
    EXPECT_EQ(Stop(SIGKILL), -1);

    handOver = store.kept;
    ASSERT_TRUE(StartDaemon(asService, InKernel)) << Output("cat " + log.string());
    const std::string said = Output("cat " + log.string());
    EXPECT_NE(said.find("took over the kernel filter"), std::string::npos) << said;
    EXPECT_EQ(said.find("replacing"), std::string::npos) << said;
    Reopen();
    EXPECT_FALSE(UdpEcho(nullptr, kListed));
    EXPECT_TRUE(UdpEcho(nullptr, kUnlisted));
    handle.Close();
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(TcState(), tcBefore);
}

// Uploads swap tables while 64-byte packets from a listed address stream in: every table lists
// it, so none may pass during a swap.
TEST_F(KernelAttachTest, ATableSwapUnderAFloodLetsNothingListedThrough) {
    constexpr int kFlood = 200000;
    constexpr int kPauseEvery = 500;  // the sender yields now and then, so that uploads interleave
    constexpr std::size_t kWideTable = 100000;
    ASSERT_TRUE(StartInKernel());
    Filter();
    std::vector<RangeEntry> wide;
    for (std::size_t i = 0; i < kWideTable; ++i) wide.push_back({std::uint32_t(i * 64), 7});
    wide.push_back({HostOrder(kListed) - 3, 5});
    std::sort(wide.begin(), wide.end(), [](auto& a, auto& b) { return a.first < b.first; });
    const std::vector<std::uint8_t> tables[2] = {SingleAddressTable(HostOrder(kListed)), TableOf(wide)};

    const int listener = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = Address(kAddress, kEchoPort + 5);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    SetTimeout(listener, 300);
    const pid_t sender = SpawnIn(remote, [] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in source = Address(kListed, kEchoPort + 6);
        sockaddr_in to = Address(kAddress, kEchoPort + 5);
        if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) return 1;
        const char payload[18] = {};  // 64 bytes on the wire with Ethernet's check sum
        for (int i = 0; i < kFlood; ++i) {
            sendto(fd, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            if (i % kPauseEvery == 0) sched_yield();
        }
        return 0;
    });
    int uploads = 0;
    int status = 0;
    while (waitpid(sender, &status, WNOHANG) == 0) {
        const auto& t = tables[uploads % 2];
        ASSERT_TRUE(Call(IOCTL_SET_RANGES, t.data(), std::uint32_t(t.size())));
        ++uploads;
    }
    EXPECT_GT(uploads, 0);
    char buffer[32];
    EXPECT_LT(recv(listener, buffer, sizeof buffer, 0), 0) << "a listed packet passed a swap";
    close(listener);
    EXPECT_TRUE(UdpEcho(nullptr, kUnlisted));
}

}  // namespace
