// ferrovane-sys on a real (namespaced) network: a range table uploaded through the control
// socket drops ICMP, UDP and TCP to and from a listed address in both directions and lets
// everything else pass; the records read back describe the dropped packets.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/mman.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/system/TestNetwork.h"
#include "fv_contract/ControlCodes.h"
#include "fv_contract/PacketEventRecord.h"
#include "fv_drv/Driver/RangeTable.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/NamedEvents.h"
#include "fv_platform/Wait.h"
#include "fv_contract/DeviceNames.h"
#include "fv_drv/host/Ipv4Frame.h"
#include "fv_drv/ndis/linux/LinuxLink.h"
#include "tests/system/DeviceCalls.h"

namespace {

using namespace fv::systest;

class DaemonTest : public ::testing::Test {
protected:
    void SetUp() override {
        FV_REQUIRE_PRIVATE_NETWORK();
        network = std::make_unique<TestNetwork>(FV_FERROVANE_SYS);
        ASSERT_TRUE(network->Ready()) << "the test network did not come up";
        blocked = fv::CreateNamedEvent(kBlockedEventName, fv::Event::Mode::AutoReset);
        granted = fv::CreateNamedEvent(kGrantedEventName, fv::Event::Mode::AutoReset);
        exitEvent = fv::CreateNamedEvent(kExitEventName, fv::Event::Mode::AutoReset);
        handle = fv::OpenDevice(network->DeviceSocket());
        ASSERT_TRUE(handle.Valid());
        for (std::uint32_t code :
             {IOCTL_CREATE_BLOCKED_EVENT, IOCTL_CREATE_GRANTED_EVENT, IOCTL_CREATE_EXIT_EVENT}) {
            ASSERT_TRUE(Call(code));
        }
        const std::u16string lower(kLower, kLower + std::strlen(kLower));
        std::uint32_t word = 0;
        ASSERT_TRUE(fv::DeviceIoControl(handle, IOCTL_OPEN_ADAPTER, lower.data(),
                                        std::uint32_t(lower.size() * 2), &word, 4, nullptr));
    }
    void TearDown() override {
        if (handle.Valid()) {
            Call(IOCTL_STOP_FILTER);
            Call(IOCTL_CLOSE_EVENTS);
        }
        handle.Close();
        for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
            fv::ReleaseNamedEvent(name);
        }
        network.reset();
    }

    bool Call(std::uint32_t code, const void* in = nullptr, std::uint32_t inLength = 0,
              void* out = nullptr, std::uint32_t outLength = 0) {
        return fv::DeviceIoControl(handle, code, in, inLength, out, outLength, nullptr);
    }

    // Uploads one single-address range for the listed remote, starts, reports both kinds.
    void StartFiltering() {
        const std::vector<std::uint8_t> upload = fv::systest::SingleAddressTable(HostOrder(kListedRemote));
        ASSERT_TRUE(Call(IOCTL_SET_RANGES, upload.data(), std::uint32_t(upload.size())));
        ASSERT_TRUE(Call(IOCTL_START_FILTER));
        const std::uint8_t on = 1;
        ASSERT_TRUE(Call(IOCTL_SET_REPORT_GRANTED, &on, 1));
        ASSERT_TRUE(Call(IOCTL_SET_REPORT_BLOCKED, &on, 1));
    }

    std::vector<PacketEventRecord> TakeBlocked() { return fv::systest::TakeBlockedRecords(handle); }

    std::array<std::uint32_t, 6> Stats() {
        std::array<std::uint32_t, 6> s{};
        Call(IOCTL_GET_STATS, nullptr, 0, s.data(), kStatsSize);
        return s;
    }

    std::unique_ptr<TestNetwork> network;
    std::shared_ptr<fv::Event> blocked, granted, exitEvent;
    fv::DeviceHandle handle;
};

bool Has(const std::vector<PacketEventRecord>& records, std::uint8_t protocol,
         std::uint8_t direction, std::uint16_t port = 0) {
    for (const auto& r : records) {
        if (ntohl(r.remoteAddress) == HostOrder(kListedRemote) && r.protocol == protocol &&
            r.direction == direction &&
            (port == 0 || ntohs(r.firstPort) == port || ntohs(r.secondPort) == port)) {
            return true;
        }
    }
    return false;
}

TEST_F(DaemonTest, EverythingPassesUntilATableIsInForce) {
    EXPECT_TRUE(Ping(kListedRemote));
    EXPECT_TRUE(UdpEcho(nullptr, kListedRemote));
    EXPECT_TRUE(TcpEcho(kListedRemote));
}

TEST_F(DaemonTest, ListedAddressIsDroppedBothWaysAndOthersPass) {
    StartFiltering();
    EXPECT_FALSE(Ping(kListedRemote));
    EXPECT_FALSE(UdpEcho(nullptr, kListedRemote));
    EXPECT_FALSE(TcpEcho(kListedRemote));
    EXPECT_TRUE(Ping(kUnlistedRemote));
    EXPECT_TRUE(UdpEcho(nullptr, kUnlistedRemote));
    EXPECT_TRUE(TcpEcho(kUnlistedRemote));

    // Incoming: the remote sends from the listed address, then from the unlisted one.
    const int listener = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = Address(kWorkstationAddress, kEchoPort + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    SetTimeout(listener, 700);
    for (const char* from : {kListedRemote, kUnlistedRemote}) {
        const pid_t sender = SpawnIn(network->RemoteNamespace(), [from] {
            const int fd = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in source = Address(from, kEchoPort + 2);
            sockaddr_in to = Address(kWorkstationAddress, kEchoPort + 1);
            if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) return 1;
            return sendto(fd, "in", 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 2 ? 0 : 1;
        });
        EXPECT_EQ(WaitExit(sender), 0);
        char buffer[8];
        const bool arrived = recv(listener, buffer, sizeof buffer, 0) == 2;
        EXPECT_EQ(arrived, std::strcmp(from, kUnlistedRemote) == 0) << from;
    }
    close(listener);

    EXPECT_EQ(fv::WaitForObject(*blocked, 0), fv::kWaitObject0);
    const auto records = TakeBlocked();
    EXPECT_TRUE(Has(records, 1, 1));                  // ICMP out
    EXPECT_TRUE(Has(records, 17, 1, kEchoPort));      // UDP out
    EXPECT_TRUE(Has(records, 6, 1, kEchoPort));       // TCP out (the SYN and its retries)
    EXPECT_TRUE(Has(records, 17, 0, kEchoPort + 2));  // UDP in
    const auto s = Stats();
    EXPECT_GE(s[1], 3u);  // sent and blocked
    EXPECT_GE(s[5], 1u);  // received and blocked
    EXPECT_GT(s[0], s[1]);
    EXPECT_GT(s[4], s[5]);
    EXPECT_EQ(s[2] + s[3], 0u);
}

// A frame tagged for VLAN 42 carrying an IPv4 packet between `from` and `to`, 64 bytes long.
std::vector<std::uint8_t> TaggedFrame(const ndis::linux_media::MacAddress& source, const char* from,
                                      const char* to) {
    fv::host::Ipv4FrameSpec udp;
    std::memset(udp.destinationMac.data(), 0xFF, 6);
    std::memcpy(udp.sourceMac.data(), source.data(), 6);
    udp.source = HostOrder(from);
    udp.destination = HostOrder(to);
    udp.protocol = 17;
    udp.payload = 18;
    std::vector<std::uint8_t> f = fv::host::BuildIpv4Frame(udp);
    const std::uint8_t tag[4] = {0x81, 0x00, 0x00, 0x2A};
    f.insert(f.begin() + 12, std::begin(tag), std::end(tag));
    return f;
}

// Waits for `expected` on `port`; other frames are skipped.
bool Arrives(ndis::linux_media::PacketPort& port, const std::vector<std::uint8_t>& expected) {
    std::uint8_t buffer[2048];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < deadline) {
        const long n = port.Receive(buffer, sizeof buffer);
        if (n < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (std::vector<std::uint8_t>(buffer, buffer + n) == expected) return true;
    }
    return false;
}

ndis::linux_media::PacketPort PortOn(const char* interface) {
    ndis::linux_media::InterfaceInfo info;
    ndis::linux_media::PacketPort port;
    std::string error;
    if (ndis::linux_media::QueryInterface(interface, info, error)) {
        ndis::linux_media::PacketPort::Create(info.index, port, error);
    }
    return port;
}

// The tag travels through the intermediate both ways, also under a table listing the source.
TEST_F(DaemonTest, TaggedFramesKeepTheirTagBothWays) {
    StartFiltering();
    ndis::linux_media::PacketPort tap = PortOn(kUpper);
    ASSERT_TRUE(tap.Open());
    const std::string remote = network->RemoteNamespace();

    const pid_t sender = SpawnIn(remote, [] {
        ndis::linux_media::PacketPort wire = PortOn(kRemoteLink);
        ndis::linux_media::InterfaceInfo info;
        std::string error;
        if (!wire.Open() || !ndis::linux_media::QueryInterface(kRemoteLink, info, error)) return 1;
        const auto frame = TaggedFrame(info.mac, kListedRemote, kWorkstationAddress);
        for (int i = 0; i < 20; ++i) {
            wire.Send(frame.data(), frame.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    });
    // The sender's address is only known inside its namespace: match on everything after it.
    std::uint8_t buffer[2048];
    bool up = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!up && std::chrono::steady_clock::now() < deadline) {
        const long n = tap.Receive(buffer, sizeof buffer);
        if (n < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        const auto expected = TaggedFrame({}, kListedRemote, kWorkstationAddress);
        up = n == long(expected.size()) &&
             std::equal(expected.begin() + 12, expected.end(), buffer + 12);
    }
    EXPECT_EQ(WaitExit(sender), 0);
    EXPECT_TRUE(up) << "a tagged frame from a listed source did not reach the TAP tagged";

    ndis::linux_media::InterfaceInfo tapInfo;
    std::string error;
    ASSERT_TRUE(ndis::linux_media::QueryInterface(kUpper, tapInfo, error));
    const auto down = TaggedFrame(tapInfo.mac, kWorkstationAddress, kListedRemote);
    const pid_t receiver = SpawnIn(remote, [&] {
        ndis::linux_media::PacketPort wire = PortOn(kRemoteLink);
        return wire.Open() && Arrives(wire, down) ? 0 : 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int i = 0; i < 10; ++i) {
        tap.Send(down.data(), down.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(WaitExit(receiver), 0) << "a tagged frame from the TAP left the lower untagged";
}

// Frames longer than the lower link's MTU at start-up reach the stack whole, in their place
// among short ones.
TEST_F(DaemonTest, LongFramesArriveWholeAndInOrder) {
    constexpr std::size_t kLongFrame = 8000;
    const std::string remote = network->RemoteNamespace();
    ASSERT_EQ(std::system(("ip -n " + remote + " link set " + kRemoteLink + " mtu 9000 && ip link set " +
                           kLower + " mtu 9000").c_str()),
              0);
    ndis::linux_media::PacketPort tap = PortOn(kUpper);
    ASSERT_TRUE(tap.Open());
    auto frame = [](std::size_t length, std::uint8_t mark) {
        std::vector<std::uint8_t> f(length, mark);
        std::memset(f.data(), 0xFF, 12);
        f[12] = 0x88;  // local experimental type: passes the filter untouched
        f[13] = 0xB5;
        return f;
    };
    const pid_t sender = SpawnIn(remote, [&] {
        ndis::linux_media::PacketPort wire = PortOn(kRemoteLink);
        if (!wire.Open()) return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (int round = 0; round < 5; ++round) {
            for (std::uint8_t mark : {1, 2, 3}) {
                const auto f = frame(mark == 2 ? kLongFrame : 60, std::uint8_t(mark + 16 * round));
                if (!wire.Send(f.data(), f.size())) return 2;
            }
        }
        return 0;
    });
    std::vector<std::uint8_t> seen;
    std::vector<std::uint8_t> buffer(16384);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (seen.size() < 15 && std::chrono::steady_clock::now() < deadline) {
        const long n = tap.Receive(buffer.data(), buffer.size());
        if (n < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (n < 14 || buffer[12] != 0x88 || buffer[13] != 0xB5) continue;
        const std::uint8_t mark = buffer[14];
        const auto expected = frame(mark % 16 == 2 ? kLongFrame : 60, mark);
        EXPECT_TRUE(std::equal(expected.begin() + 12, expected.end(), buffer.begin() + 12) &&
                    std::size_t(n) == expected.size())
            << "frame " << int(mark) << " changed on its way, " << n << " bytes";
        seen.push_back(mark);
    }
    EXPECT_EQ(WaitExit(sender), 0);
    std::vector<std::uint8_t> order;
    for (int round = 0; round < 5; ++round) {
        for (std::uint8_t mark : {1, 2, 3}) order.push_back(std::uint8_t(mark + 16 * round));
    }
    EXPECT_EQ(seen, order);
}

// While frames stream both ways, each side's thread also carries the other direction's waiting
// frames: neither direction may lose its order or see a frame twice.
TEST_F(DaemonTest, BothDirectionsBusyKeepTheirOrder) {
    constexpr std::uint32_t kFrames = 3000;
    constexpr std::uint8_t kInbound = 1;
    constexpr std::uint8_t kOutbound = 2;
    // Frames a sender may have ahead of its receiver: far less than any queue on the way holds,
    // so a slow daemon slows the senders down instead of losing what they send.
    constexpr std::uint32_t kWindow = 16;
    // A window that does not move for this long lost its frames: the sender goes on.
    constexpr auto kStall = std::chrono::milliseconds(200);
    constexpr auto kQuiet = std::chrono::seconds(2);  // after the last frame: the stream is over
    constexpr auto kStartDelay = std::chrono::milliseconds(200);
    // Each direction's progress, shared with the remote side's process.
    struct Way {
        std::atomic<std::uint32_t> received;  // one past the highest number that arrived
        std::atomic<bool> sent;
    };
    auto* ways = static_cast<Way*>(mmap(nullptr, 2 * sizeof(Way), PROT_READ | PROT_WRITE,
                                        MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(ways, MAP_FAILED);
    new (&ways[0]) Way{};
    new (&ways[1]) Way{};
    auto frame = [](std::uint8_t way, std::uint32_t number) {
        std::vector<std::uint8_t> f(60, 0);
        std::memset(f.data(), 0xFF, 12);
        f[12] = 0x88;  // local experimental type: passes the filter untouched
        f[13] = 0xB5;
        f[14] = way;
        std::memcpy(&f[15], &number, sizeof number);
        return f;
    };
    auto send = [&](ndis::linux_media::PacketPort& port, std::uint8_t way) {
        Way& w = ways[way - 1];
        std::this_thread::sleep_for(kStartDelay);  // both sides are reading by then
        for (std::uint32_t i = 0; i < kFrames; ++i) {
            std::uint32_t seen = w.received;
            auto moved = std::chrono::steady_clock::now();
            while (i >= seen + kWindow && std::chrono::steady_clock::now() - moved < kStall) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                if (w.received != seen) {
                    seen = w.received;
                    moved = std::chrono::steady_clock::now();
                }
            }
            const auto f = frame(way, i);
            port.Send(f.data(), f.size());
        }
        w.sent = true;
    };
    // The numbers of `way`'s frames read from `port`: strictly rising, or the first that is
    // not, with its predecessor.
    auto collect = [&](ndis::linux_media::PacketPort& port, std::uint8_t way,
                       std::uint32_t& count) {
        constexpr auto kGiveUp = std::chrono::seconds(120);  // a daemon that forwards nothing
        Way& w = ways[way - 1];
        std::array<std::uint8_t, 2048> buffer{};
        std::int64_t last = -1;
        count = 0;
        const auto start = std::chrono::steady_clock::now();
        auto lastArrival = start;
        while (count < kFrames && std::chrono::steady_clock::now() - start < kGiveUp) {
            const long n = port.Receive(buffer.data(), buffer.size());
            if (n < 0) {
                if (w.sent && std::chrono::steady_clock::now() - lastArrival > kQuiet) break;
                pollfd ready{port.Fd(), POLLIN, 0};
                poll(&ready, 1, 10);
                continue;
            }
            if (n < 19 || buffer[12] != 0x88 || buffer[13] != 0xB5 || buffer[14] != way) continue;
            std::uint32_t number;
            std::memcpy(&number, &buffer[15], sizeof number);
            if (std::int64_t(number) <= last) return std::string("frame ") + std::to_string(number) +
                                                     " after " + std::to_string(last);
            last = number;
            w.received = number + 1;
            ++count;
            lastArrival = std::chrono::steady_clock::now();
        }
        return std::string();
    };
    const std::string remote = network->RemoteNamespace();
    ndis::linux_media::PacketPort tap = PortOn(kUpper);
    ASSERT_TRUE(tap.Open());
    const pid_t peer = SpawnIn(remote, [&] {
        ndis::linux_media::PacketPort wire = PortOn(kRemoteLink);
        if (!wire.Open()) return 1;
        std::thread sender([&] { send(wire, kInbound); });
        std::uint32_t count = 0;
        const std::string fault = collect(wire, kOutbound, count);
        sender.join();
        if (!fault.empty()) std::fprintf(stderr, "outbound %s\n", fault.c_str());
        // Paced senders lose nothing to speed; a few may still be lost on the way.
        return !fault.empty() ? 2 : count < kFrames / 2 ? 3 : 0;
    });
    std::thread sender([&] { send(tap, kOutbound); });
    std::uint32_t count = 0;
    EXPECT_EQ(collect(tap, kInbound, count), "");
    sender.join();
    EXPECT_GE(count, kFrames / 2);
    EXPECT_EQ(WaitExit(peer), 0) << "outbound frames lost their order (2) or mostly went missing (3)";
    munmap(ways, 2 * sizeof(Way));
}

TEST_F(DaemonTest, StopLetsTrafficPassAgainAndSignalsTheExitEvent) {
    StartFiltering();
    EXPECT_FALSE(UdpEcho(nullptr, kListedRemote));
    ASSERT_TRUE(Call(IOCTL_STOP_FILTER));
    EXPECT_EQ(fv::WaitForObject(*exitEvent, 1000), fv::kWaitObject0);
    EXPECT_TRUE(UdpEcho(nullptr, kListedRemote));
}

TEST_F(DaemonTest, TerminationRemovesTheTapAndTheSocket) {
    handle.Close();
    EXPECT_EQ(network->StopDaemon(), 0);
    EXPECT_FALSE(std::filesystem::exists(network->DeviceSocket()));
    EXPECT_FALSE(fv::systest::Run(std::string("ip link show ") + kUpper + " >/dev/null 2>&1"));
    // The lower interface is the kernel's again.
    EXPECT_TRUE(fv::systest::Run(std::string("ip link show ") + kLower + " >/dev/null 2>&1"));
}

}  // namespace

namespace {

// CPU seconds the process has used so far.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) user = std::stoull(field);
        if (i == 15) system = std::stoull(field);
    }
    return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

// The carrier flag as `ip` reports it (/sys shows the namespace it was mounted in, and the
// interface flags the ioctl reads carry the operational state, which may lag the carrier).
bool Carrier(const char* interface) {
    return fv::systest::Run(std::string("ip -o link show dev ") + interface +
                      " | grep -q '[<,]LOWER_UP[,>]'");
}

// Whether `interface`'s carrier reaches `on` within a few seconds.
bool CarrierBecomes(const char* interface, bool on) {
    for (int i = 0; i < 60; ++i) {
        if (Carrier(interface) == on) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST_F(DaemonTest, TheTapFollowsTheLowerLinkAndOutlivesItsRemoval) {
    const std::string remote = network->RemoteNamespace();
    EXPECT_TRUE(Carrier(kUpper));
    ASSERT_TRUE(fv::systest::Run("ip -n " + remote + " link set " + kRemoteLink + " down"));
    EXPECT_TRUE(CarrierBecomes(kUpper, false));
    ASSERT_TRUE(fv::systest::Run("ip -n " + remote + " link set " + kRemoteLink + " up"));
    EXPECT_TRUE(CarrierBecomes(kUpper, true));

    // Without its interface the daemon idles, still answers, and still stops cleanly.
    ASSERT_TRUE(fv::systest::Run(std::string("ip link del ") + kLower));
    EXPECT_TRUE(CarrierBecomes(kUpper, false));
    const double before = CpuSeconds(network->Daemon());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(CpuSeconds(network->Daemon()) - before, 0.3) << "the daemon is spinning";
    std::array<std::uint32_t, 6> s{};
    EXPECT_TRUE(Call(IOCTL_GET_STATS, nullptr, 0, s.data(), kStatsSize));
    handle.Close();
    EXPECT_EQ(network->StopDaemon(), 0);
}

}  // namespace
