// ferrovane-sys with two bound adapters under a hostile member of the device group: one client
// holds adapter A with a pipe for an event and uploads the largest tables in a loop, two hundred
// more connections sit idle. Traffic through A still flows, a well-formed client of adapter B
// still reads its records, and SIGTERM still ends the daemon promptly.
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/system/TestNetwork.h"
#include "fv_drv/contract/ControlCodes.h"
#include "fv_drv/contract/DeviceNames.h"
#include "fv_drv/contract/PacketEventRecord.h"
#include "fv_drv/Driver/RangeTable.h"
#include "fv_platform/ControlWire.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/NamedEvents.h"
#include "fv_platform/UniqueFd.h"
#include "fv_platform/Wait.h"

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
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        iovec iov{hello.data(), hello.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &pipe_[1], sizeof(int));
        if (sendmsg(fd_.Get(), &msg, 0) != ssize_t(hello.size())) return false;
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

}  // namespace
