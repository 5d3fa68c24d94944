// ferrovane-sys under hostile members of the device group. With two bound adapters: one client
// holds adapter A with a pipe for an event and uploads the largest tables in a loop, two hundred
// more connections sit idle; traffic through A still flows, a well-formed client of adapter B
// still reads its records, and SIGTERM still ends the daemon promptly. Attached in place: two
// members flood it with descriptors and begin the largest requests without finishing them;
// the daemon's memory and descriptors stay bounded, another member is still served, and a
// SIGTERM still removes every rule.
#include <grp.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/system/TestNetwork.h"
#include "fv_contract/ControlCodes.h"
#include "fv_contract/DeviceNames.h"
#include "fv_contract/PacketEventRecord.h"
#include "fv_drv/Driver/RangeTable.h"
#include "fv_platform/ControlWire.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/NamedEvents.h"
#include "fv_platform/UniqueFd.h"
#include "fv_platform/Wait.h"
#include "tests/system/DeviceCalls.h"

namespace {

using namespace fv::systest;
namespace wire = fv::wire;

fv::UniqueFd Connect(const std::string& path) {
    fv::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) fd.Reset();
    return fd;
}

// Sends `bytes` in one message with each of `fds` attached; false unless all of it went.
bool SendWithDescriptors(int socket, const std::vector<std::uint8_t>& bytes,
                         const std::vector<int>& fds, int flags) {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * wire::kMaxNamedEvents)] = {};
    if (fds.empty() || fds.size() > wire::kMaxNamedEvents) return false;
    iovec iov{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
    std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
    return sendmsg(socket, &msg, flags) == ssize_t(bytes.size());
}

// A client speaking the wire protocol itself, handing over a pipe as its blocked event.
class PipeClient {
public:
    bool Open(const std::string& path) {
        if (pipe2(pipe_, O_CLOEXEC) != 0) return false;
        fd_ = Connect(path);
        if (!fd_) return false;
        const std::string name = kBlockedEventName;
        std::vector<std::uint8_t> hello(12 + name.size());
        const std::uint32_t head[3] = {wire::kHelloMagic, 1, std::uint32_t(name.size())};
        std::memcpy(hello.data(), head, sizeof head);
        std::memcpy(hello.data() + sizeof head, name.data(), name.size());
        if (!SendWithDescriptors(fd_.Get(), hello, {pipe_[1]}, 0)) return false;
        std::uint32_t status = 1;
        return wire::ReceiveAll(fd_.Get(), &status, sizeof status) && status == 0;
    }
    ~PipeClient() {
        for (int fd : pipe_) {
            if (fd >= 0) close(fd);
        }
    }
    // The request's status, or 0xFFFFFFFF when the connection failed.
    std::uint32_t Call(std::uint32_t code, const std::vector<std::uint8_t>& input = {}) {
        const wire::RequestHeader request{code, std::uint32_t(input.size()), 0};
        wire::ReplyHeader reply{};
        if (!wire::SendAll(fd_.Get(), &request, sizeof request) ||
            !wire::SendAll(fd_.Get(), input.data(), input.size()) ||
            !wire::ReceiveAll(fd_.Get(), &reply, sizeof reply) || reply.returned != 0) {
            return 0xFFFFFFFF;
        }
        return reply.status;
    }

private:
    fv::UniqueFd fd_;
    int pipe_[2] = {-1, -1};
};

std::vector<std::uint8_t> Utf16(const char* ascii) {
    std::vector<std::uint8_t> bytes;
    for (const char* p = ascii; *p != 0; ++p) bytes.insert(bytes.end(), {std::uint8_t(*p), 0});
    return bytes;
}

// The largest upload the socket carries: multicast ranges only, so A's traffic is never listed.
std::vector<std::uint8_t> LargestUpload() {
    const std::uint32_t count = std::uint32_t((wire::kMaxBufferLength - 8) / sizeof(RangeEntry));
    std::vector<std::uint8_t> image(RangeTableImageSize(count), 0);
    std::memcpy(image.data(), &count, sizeof count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const RangeEntry e{0xE0000000u + i * 4, 0};
        std::memcpy(image.data() + 4 + i * sizeof e, &e, sizeof e);
    }
    return image;
}

TEST(HostileClientTest, AHostilePeerHurtsNeitherTrafficNorOtherClientsNorShutdown) {
    FV_REQUIRE_PRIVATE_NETWORK();
    TestNetwork network(FV_FERROVANE_SYS, true);
    ASSERT_TRUE(network.Ready()) << "the test network did not come up";

    // The well-formed client of adapter B: events, handle, a table listing B's remote, reports.
    auto blocked = fv::CreateNamedEvent(kBlockedEventName, fv::Event::Mode::AutoReset);
    auto granted = fv::CreateNamedEvent(kGrantedEventName, fv::Event::Mode::AutoReset);
    auto exitEvent = fv::CreateNamedEvent(kExitEventName, fv::Event::Mode::AutoReset);
    fv::DeviceHandle good = fv::OpenDevice(network.DeviceSocket());
    ASSERT_TRUE(good.Valid());
    auto call = [&](std::uint32_t code, const void* in = nullptr, std::uint32_t length = 0,
                    void* out = nullptr, std::uint32_t outLength = 0) {
        return fv::DeviceIoControl(good, code, in, length, out, outLength, nullptr);
    };
    for (std::uint32_t code :
         {IOCTL_CREATE_BLOCKED_EVENT, IOCTL_CREATE_GRANTED_EVENT, IOCTL_CREATE_EXIT_EVENT}) {
        ASSERT_TRUE(call(code));
    }
    const auto lowerB = Utf16(kLowerB);
    ASSERT_TRUE(call(IOCTL_OPEN_ADAPTER, lowerB.data(), std::uint32_t(lowerB.size())));
    std::vector<std::uint8_t> table(RangeTableImageSize(1), 0);
    const std::uint32_t one = 1;
    const RangeEntry listed{HostOrder(kListedRemoteB), 0};
    std::memcpy(table.data(), &one, 4);
    std::memcpy(table.data() + 4, &listed, sizeof listed);
    ASSERT_TRUE(call(IOCTL_SET_RANGES, table.data(), std::uint32_t(table.size())));
    ASSERT_TRUE(call(IOCTL_START_FILTER));
    const std::uint8_t on = 1;
    ASSERT_TRUE(call(IOCTL_SET_REPORT_BLOCKED, &on, 1));

    // The hostile client holds A and uploads in a loop.
    PipeClient hostile;
    ASSERT_TRUE(hostile.Open(network.DeviceSocket()));
    ASSERT_EQ(hostile.Call(IOCTL_OPEN_ADAPTER, Utf16(kLower)), 0u);
    EXPECT_NE(hostile.Call(IOCTL_CREATE_BLOCKED_EVENT), 0u);  // held by B's client
    ASSERT_EQ(hostile.Call(IOCTL_START_FILTER), 0u);
    ASSERT_EQ(hostile.Call(IOCTL_SET_REPORT_BLOCKED, {1}), 0u);
    const auto largest = LargestUpload();
    std::atomic<bool> stop{false};
    std::atomic<int> uploads{0};
    std::thread uploader([&] {
        while (!stop && hostile.Call(IOCTL_SET_RANGES, largest) == 0) ++uploads;
    });
    std::vector<fv::UniqueFd> idle;
    for (int i = 0; i < 200; ++i) idle.push_back(Connect(network.DeviceSocket()));

    while (uploads < 2) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int echoed = 0;
    for (int i = 0; i < 20; ++i) echoed += UdpEcho(nullptr, kUnlistedRemote, 1000) ? 1 : 0;
    EXPECT_GE(echoed, 18);

    // B's client sees its blocked packets.
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Address(kListedRemoteB, kEchoPort);
    for (int i = 0; i < 5; ++i) {
        sendto(udp, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    close(udp);
    EXPECT_EQ(fv::WaitForObject(*blocked, 5000), fv::kWaitObject0);
    std::uint32_t pending = 0;
    ASSERT_TRUE(call(IOCTL_GET_BLOCKED_COUNT, nullptr, 0, &pending, 4));
    EXPECT_GE(pending, 1u);
    PacketEventRecord record{};
    ASSERT_TRUE(call(IOCTL_GET_BLOCKED_RECORD, nullptr, 0, &record, sizeof record));
    EXPECT_EQ(ntohl(record.remoteAddress), HostOrder(kListedRemoteB));

    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(network.StopDaemon(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    stop = true;
    uploader.join();
    EXPECT_GE(uploads.load(), 2);
    good.Close();
    for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
        fv::ReleaseNamedEvent(name);
    }
}

// --- Two hostile members against an attached daemon ---

constexpr const char* kAttached = "fvh0";
constexpr const char* kAttachedPeer = "fvhr0";
constexpr const char* kAttachedAddress = "10.204.0.2";
constexpr const char* kAttachedUnlisted = "10.204.0.1";
constexpr const char* kAttachedListed = "10.204.0.66";
constexpr uid_t kHostileUids[2] = {61001, 61002};
constexpr uid_t kMemberUid = 61003;
constexpr int kHostileConnections = 64;  // each tries to hold this many
constexpr std::size_t kPartialInput = 1u << 20;
constexpr long kRssLimitKiB = 256 * 1024;
constexpr long kSanitizedRssFactor = 4;
// What a service gets by default: a daemon that never nears it cannot be starved of descriptors.
constexpr std::size_t kDescriptorLimit = 1024;

// Shared between the test and the members it forks.
struct Attack {
    std::atomic<bool> stop;
    std::atomic<int> held[2];     // connections with a request begun
    std::atomic<int> dropped[2];  // of those, ended by the daemon
    std::atomic<bool> sampling;
    std::atomic<long> peakRss;    // the daemon's, in KiB
    std::atomic<std::size_t> peakDescriptors;
};

bool WaitFor(const std::function<bool()>& condition, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// Becomes an ordinary user whose only group is the device group.
bool BecomeMember(uid_t uid, gid_t group) {
    return setgroups(1, &group) == 0 && setgid(group) == 0 && setuid(uid) == 0;
}

// Opens a connection whose hello hands over `fd` as many times as the wire allows, under the
// driver's names and others; -1 when the daemon refuses or drops it.
int FloodHello(const std::string& path, int fd) {
    fv::UniqueFd c = Connect(path);
    if (!c) return -1;
    SetTimeout(c.Get(), 2000);
    const char* known[] = {kBlockedEventName, kGrantedEventName, kExitEventName};
    std::vector<std::uint8_t> hello(8);
    const std::uint32_t head[2] = {wire::kHelloMagic, wire::kMaxNamedEvents};
    std::memcpy(hello.data(), head, sizeof head);
    for (std::uint32_t i = 0; i < wire::kMaxNamedEvents; ++i) {
        const std::string name = i < 3 ? known[i] : "Junk" + std::to_string(i);
        const std::uint32_t length = std::uint32_t(name.size());
        const auto* l = reinterpret_cast<const std::uint8_t*>(&length);
        hello.insert(hello.end(), l, l + sizeof length);
        hello.insert(hello.end(), name.begin(), name.end());
    }
    std::uint32_t status = 1;
    if (!SendWithDescriptors(c.Get(), hello, std::vector<int>(wire::kMaxNamedEvents, fd),
                             MSG_NOSIGNAL) ||
        !wire::ReceiveAll(c.Get(), &status, sizeof status) || status != 0) {
        return -1;
    }
    return c.Release();
}

// A hostile member: holds as many connections as it can, each with the largest request begun
// and a part of its input sent, and replaces those the daemon ends.
int Hostile(const std::string& path, Attack* attack, int index) {
    fv::UniqueFd flood(open("/dev/null", O_RDONLY | O_CLOEXEC));
    const std::vector<std::uint8_t> partial(kPartialInput, 0);
    std::vector<int> held;
    while (!attack->stop) {
        for (auto it = held.begin(); it != held.end();) {
            pollfd p{*it, POLLIN, 0};
            if (poll(&p, 1, 0) == 1) {  // ended, or answered without its input: start again
                close(*it);
                it = held.erase(it);
                ++attack->dropped[index];
            } else {
                ++it;
            }
        }
        if (held.size() < std::size_t(kHostileConnections)) {
            const int c = FloodHello(path, flood.Get());
            if (c >= 0) {
                const wire::RequestHeader request{IOCTL_SET_RANGES, wire::kMaxBufferLength, 0};
                if (send(c, &request, sizeof request, MSG_NOSIGNAL) == ssize_t(sizeof request) &&
                    send(c, partial.data(), partial.size(), MSG_NOSIGNAL | MSG_DONTWAIT) > 0) {
                    held.push_back(c);
                } else {
                    close(c);
                }
            }
        }
        attack->held[index] = int(held.size());
        // Paced, so that the test sees the daemon's memory grow rather than only its end.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (int c : held) close(c);
    return 0;
}

long RssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

std::size_t Descriptors(pid_t pid) {
    std::error_code ec;
    std::size_t n = 0;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end;
         !ec && it != end; it.increment(ec)) {
        ++n;
    }
    return n;
}

bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

TEST(HostileClientTest, TwoHostileMembersExhaustNeitherMemoryNorDescriptorsNorShutdown) {
    FV_REQUIRE_PRIVATE_NETWORK();
    const group* users = getgrnam("users");
    if (users == nullptr) GTEST_SKIP() << "no group 'users' to act as the device group";
    const gid_t deviceGid = users->gr_gid;
    const std::string remote = "fvhostile-" + std::to_string(getpid());
    const auto deviceDir =
        std::filesystem::temp_directory_path() / ("fvhostile-" + std::to_string(getpid()));
    std::filesystem::create_directories(deviceDir);
    const std::string socketPath = (deviceDir / kControlDeviceName).string();
    ASSERT_TRUE(fv::systest::Run("ip netns add " + remote));
    ASSERT_TRUE(fv::systest::Run(std::string("ip link add ") + kAttached + " type veth peer name " +
                    kAttachedPeer + " netns " + remote));
    ASSERT_TRUE(fv::systest::Run(std::string("ip link set ") + kAttached + " up"));
    ASSERT_TRUE(fv::systest::Run(std::string("ip addr add ") + kAttachedAddress + "/24 dev " + kAttached));
    ASSERT_TRUE(fv::systest::Run("ip -n " + remote + " link set lo up"));
    ASSERT_TRUE(fv::systest::Run("ip -n " + remote + " link set " + kAttachedPeer + " up"));
    ASSERT_TRUE(fv::systest::Run("ip -n " + remote + " addr add " + kAttachedUnlisted + "/24 dev " + kAttachedPeer));
    ASSERT_TRUE(fv::systest::Run("ip -n " + remote + " addr add " + kAttachedListed + "/24 dev " + kAttachedPeer));
    const pid_t servers = SpawnIn(remote, EchoServers);
    ASSERT_TRUE(WaitFor([] { return UdpEcho(nullptr, kAttachedUnlisted, 100); }, 5000));
    const std::string before = Ruleset();

    pid_t daemon = fork();
    if (daemon == 0) {
        execl(FV_FERROVANE_SYS, FV_FERROVANE_SYS, "--attach", kAttached, "--device-dir",
              deviceDir.c_str(), "--device-group", "users", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_TRUE(WaitFor([&] { return fv::OpenDevice(socketPath).Valid(); }, 10000));

    // Root's own client filters the interface throughout.
    auto blocked = fv::CreateNamedEvent(kBlockedEventName, fv::Event::Mode::AutoReset);
    auto granted = fv::CreateNamedEvent(kGrantedEventName, fv::Event::Mode::AutoReset);
    auto exitEvent = fv::CreateNamedEvent(kExitEventName, fv::Event::Mode::AutoReset);
    fv::DeviceHandle good = fv::OpenDevice(socketPath);
    ASSERT_TRUE(good.Valid());
    auto call = [&](std::uint32_t code, const void* in = nullptr, std::uint32_t length = 0) {
        return fv::DeviceIoControl(good, code, in, length, nullptr, 0, nullptr);
    };
    const auto name = Utf16(kAttached);
    ASSERT_TRUE(call(IOCTL_OPEN_ADAPTER, name.data(), std::uint32_t(name.size())));
    const auto table = SingleAddressTable(HostOrder(kAttachedListed));
    ASSERT_TRUE(call(IOCTL_SET_RANGES, table.data(), std::uint32_t(table.size())));
    ASSERT_TRUE(call(IOCTL_START_FILTER));

    auto* attack = static_cast<Attack*>(mmap(nullptr, sizeof(Attack), PROT_READ | PROT_WRITE,
                                             MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(attack, MAP_FAILED);
    new (attack) Attack{};
    // The sampler is a process, not a thread: every child is forked while this process has one
    // thread, so none can inherit an allocator lock another thread held at the fork.
    attack->sampling = true;
    const pid_t sampler = fork();
    if (sampler == 0) {
        for (int round = 0; attack->sampling; ++round) {
            const long rss = RssKiB(daemon);
            attack->peakRss = std::max(attack->peakRss.load(), rss);
            // Beyond the limit the attack ends at once: the test has its answer, and the
            // machine keeps its memory. A sanitizer's shadow and quarantine add to what a
            // buffer costs, so there the limit only guards the machine.
            if (rss > (Sanitized() ? kSanitizedRssFactor : 1) * kRssLimitKiB) attack->stop = true;
            if (round % 5 == 0) {
                attack->peakDescriptors = std::max(attack->peakDescriptors.load(), Descriptors(daemon));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        _exit(0);
    }
    ASSERT_GT(sampler, 0);
    pid_t hostile[2];
    for (int i = 0; i < 2; ++i) {
        hostile[i] = fork();
        if (hostile[i] == 0) {
            if (!BecomeMember(kHostileUids[i], deviceGid)) _exit(90);
            _exit(Hostile(socketPath, attack, i));
        }
    }

    // Both hold connections, and the daemon has ended stalled requests of each.
    const bool held = WaitFor([&] {
        return attack->stop || (attack->held[0] >= 8 && attack->held[1] >= 8);
    }, 30000);
    EXPECT_TRUE(held && !attack->stop) << "held " << attack->held[0] << " and " << attack->held[1];
    EXPECT_TRUE(WaitFor([&] {
        return attack->stop || (attack->dropped[0] > 0 && attack->dropped[1] > 0);
    }, 30000) && !attack->stop) << "stalled requests were never ended";

    // Another member is still let in and answered.
    const pid_t member = fork();
    if (member == 0) {
        if (!BecomeMember(kMemberUid, deviceGid)) _exit(90);
        fv::DeviceHandle h = fv::OpenDevice(socketPath);
        DriverVersionInfo version{};
        _exit(!h.Valid() ? 1
              : fv::DeviceIoControl(h, IOCTL_GET_VERSION, nullptr, 0, &version, sizeof version,
                                    nullptr)       ? 0
                                                   : 2);
    }
    EXPECT_EQ(WaitExit(member), 0) << "refused (1) or unanswered (2)";
    EXPECT_FALSE(UdpEcho(nullptr, kAttachedListed));
    EXPECT_TRUE(UdpEcho(nullptr, kAttachedUnlisted));

    // Stopped in the middle of the attack, the daemon still takes its rules away.
    kill(daemon, SIGTERM);
    EXPECT_EQ(WaitExit(daemon), 0);
    EXPECT_EQ(Ruleset(), before);
    attack->stop = true;
    for (pid_t h : hostile) EXPECT_EQ(WaitExit(h), 0);
    attack->sampling = false;
    EXPECT_EQ(WaitExit(sampler), 0);
    std::printf("daemon peak: %ld KiB resident, %zu descriptors\n", attack->peakRss.load(),
                attack->peakDescriptors.load());
    if (!Sanitized()) {
        EXPECT_LT(attack->peakRss.load(), kRssLimitKiB);
    }
    EXPECT_LT(attack->peakDescriptors.load(), kDescriptorLimit);

    good.Close();
    for (const char* n : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
        fv::ReleaseNamedEvent(n);
    }
    munmap(attack, sizeof(Attack));
    kill(servers, SIGKILL);
    WaitExit(servers);
    fv::systest::Run(std::string("ip link del ") + kAttached + " 2>/dev/null");
    fv::systest::Run("ip netns del " + remote + " 2>/dev/null");
    std::filesystem::remove_all(deviceDir);
}

}  // namespace
