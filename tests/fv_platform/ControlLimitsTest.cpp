// What one peer of the control socket may take from the daemon: descriptors at the hello, time
// with a request begun, and bytes of large requests.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fv_contract/Statuses.h"
#include "fv_drv/host/ControlServer.h"
#include "fv_platform/ControlWire.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/UniqueFd.h"

namespace {

namespace wire = fv::wire;
using fv::host::NamedEventFd;

constexpr std::uint32_t kEcho = 1;         // output = input
constexpr std::uint32_t kCountEvents = 2;  // 4 bytes: events the handle holds
constexpr const char* kUsedEvent = "Used";

class Handle : public fv::host::ControlHandle {
public:
    explicit Handle(std::vector<NamedEventFd> events) {
        for (auto& e : events) fds_.push_back(std::move(e.fd));
    }
    std::uint32_t DeviceControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t in,
                                std::uint32_t, std::uint32_t* information) override {
        if (code == kCountEvents) {
            const auto n = std::uint32_t(fds_.size());
            std::memcpy(buffer, &n, sizeof n);
            *information = sizeof n;
        } else {
            *information = in;
        }
        return STATUS_SUCCESS;
    }

private:
    std::vector<fv::UniqueFd> fds_;
};

class Device : public fv::host::ControlDevice {
public:
    std::uint32_t Create(std::vector<NamedEventFd> events,
                         std::unique_ptr<fv::host::ControlHandle>& handle) override {
        handle = std::make_unique<Handle>(std::move(events));
        return STATUS_SUCCESS;
    }
    bool UsesEvent(const std::string& name) const override { return name == kUsedEvent; }
};

std::size_t OpenDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

class ControlLimitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("fvlim-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        path = (dir / "Ferrovane").string();
    }
    void TearDown() override {
        if (server) server->Stop();
        std::filesystem::remove_all(dir);
    }
    void Start(fv::host::PeerLimits limits) {
        server = std::make_unique<fv::host::ControlServer>(
            device, fv::host::PeerPolicy{getuid(), gid_t(-1)}, limits);
        ASSERT_TRUE(server->Start(path));
    }
    fv::UniqueFd Connect() {
        fv::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, path.c_str());
        EXPECT_EQ(connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        timeval tv{5, 0};
        setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        return fd;
    }
    // Says hello with `names`, handing over `fd` `copies` times; the status, or -1 when the
    // connection ended without one.
    static std::int64_t Hello(int connection, const std::vector<std::string>& names, int fd,
                              std::size_t copies) {
        std::vector<std::uint8_t> bytes(8);
        const std::uint32_t head[2] = {wire::kHelloMagic, std::uint32_t(names.size())};
        std::memcpy(bytes.data(), head, sizeof head);
        for (const auto& name : names) {
            const auto length = std::uint32_t(name.size());
            const auto* l = reinterpret_cast<const std::uint8_t*>(&length);
            bytes.insert(bytes.end(), l, l + sizeof length);
            bytes.insert(bytes.end(), name.begin(), name.end());
        }
        std::vector<char> control(CMSG_SPACE(sizeof(int) * copies));
        iovec iov{bytes.data(), bytes.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control.data();
        msg.msg_controllen = control.size();
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * copies);
        for (std::size_t i = 0; i < copies; ++i) {
            std::memcpy(CMSG_DATA(c) + i * sizeof(int), &fd, sizeof fd);
        }
        if (sendmsg(connection, &msg, MSG_NOSIGNAL) != ssize_t(bytes.size())) return -1;
        std::uint32_t status = 0;
        return wire::ReceiveAll(connection, &status, sizeof status) ? std::int64_t(status) : -1;
    }

    std::filesystem::path dir;
    std::string path;
    Device device;
    std::unique_ptr<fv::host::ControlServer> server;
};

TEST_F(ControlLimitsTest, AHelloLeavesOnlyTheUsedEventsOpen) {
    Start({});
    const fv::UniqueFd event(eventfd(0, EFD_CLOEXEC));
    const std::size_t before = OpenDescriptors();
    {
        // Every entry the wire allows: the used name twice, the rest unknown.
        std::vector<std::string> names{kUsedEvent, kUsedEvent};
        while (names.size() < wire::kMaxNamedEvents) names.push_back("X" + std::to_string(names.size()));
        fv::UniqueFd c = Connect();
        ASSERT_EQ(Hello(c.Get(), names, event.Get(), names.size()), STATUS_SUCCESS);
        const wire::RequestHeader count{kCountEvents, 0, 4};
        ASSERT_TRUE(wire::SendAll(c.Get(), &count, sizeof count));
        wire::ReplyHeader reply{};
        std::uint32_t held = 0;
        ASSERT_TRUE(wire::ReceiveAll(c.Get(), &reply, sizeof reply));
        ASSERT_TRUE(wire::ReceiveAll(c.Get(), &held, sizeof held));
        EXPECT_EQ(held, 1u);
        // Our end, the server's end and the one event kept.
        EXPECT_LE(OpenDescriptors(), before + 3);
    }
    // More descriptors than entries, and more than the hello may carry: refused, none kept.
    for (std::size_t copies : {std::size_t(2), std::size_t(wire::kMaxNamedEvents + 20)}) {
        fv::UniqueFd c = Connect();
        EXPECT_EQ(Hello(c.Get(), {kUsedEvent}, event.Get(), copies), -1) << copies;
    }
    EXPECT_EQ(server->ConnectionCount(), 0u);
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(ControlLimitsTest, ARequestThatStopsArrivingIsDroppedAnIdleConnectionStays) {
    fv::host::PeerLimits limits;
    limits.requestTimeout = std::chrono::milliseconds(300);
    Start(limits);
    const fv::UniqueFd idle = Connect();
    ASSERT_EQ(Hello(idle.Get(), {}, -1, 0), STATUS_SUCCESS);
    const fv::UniqueFd halfHeader = Connect();
    ASSERT_EQ(Hello(halfHeader.Get(), {}, -1, 0), STATUS_SUCCESS);
    const fv::UniqueFd halfInput = Connect();
    ASSERT_EQ(Hello(halfInput.Get(), {}, -1, 0), STATUS_SUCCESS);

    const std::uint32_t header[3] = {kEcho, 1000, 1000};
    ASSERT_TRUE(wire::SendAll(halfHeader.Get(), header, 6));
    ASSERT_TRUE(wire::SendAll(halfInput.Get(), header, sizeof header));
    ASSERT_TRUE(wire::SendAll(halfInput.Get(), "abc", 3));
    char byte;
    EXPECT_EQ(recv(halfHeader.Get(), &byte, 1, 0), 0);
    EXPECT_EQ(recv(halfInput.Get(), &byte, 1, 0), 0);

    // Quiet for longer than a request may take, between requests: still served.
    const wire::RequestHeader echo{kEcho, 1, 1};
    ASSERT_TRUE(wire::SendAll(idle.Get(), &echo, sizeof echo));
    ASSERT_TRUE(wire::SendAll(idle.Get(), "z", 1));
    wire::ReplyHeader reply{};
    ASSERT_TRUE(wire::ReceiveAll(idle.Get(), &reply, sizeof reply));
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
}

TEST_F(ControlLimitsTest, LargeRequestsTakeTurnsAndOneWithoutATurnFailsAlone) {
    fv::host::PeerLimits limits;
    limits.smallRequestBytes = 1024;
    limits.bytesInFlight = 64u << 10;
    limits.budgetWait = std::chrono::milliseconds(300);
    limits.requestTimeout = std::chrono::seconds(60);  // the holder below is never dropped
    Start(limits);
    // A large request begun and held: its bytes are taken.
    const fv::UniqueFd holder = Connect();
    ASSERT_EQ(Hello(holder.Get(), {}, -1, 0), STATUS_SUCCESS);
    const wire::RequestHeader large{kEcho, 48u << 10, 0};
    ASSERT_TRUE(wire::SendAll(holder.Get(), &large, sizeof large));
    ASSERT_TRUE(wire::SendAll(holder.Get(), "x", 1));
    for (int i = 0; i < 2000 && server->BytesInFlight() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GT(server->BytesInFlight(), 0u) << "the large request was never given its bytes";

    fv::DeviceHandle other = fv::OpenDevice(path);
    ASSERT_TRUE(other.Valid());
    std::vector<std::uint8_t> input(32u << 10, 7), output(input.size());
    EXPECT_FALSE(fv::DeviceIoControl(other, kEcho, input.data(), std::uint32_t(input.size()),
                                     output.data(), std::uint32_t(output.size()), nullptr));
    EXPECT_EQ(fv::GetLastError(), fv::kErrorNoSystemResources);
    // The failed request leaves the connection in step: small requests pass meanwhile, and the
    // large one once the holder has gone.
    std::uint8_t small[16] = {1}, back[16] = {};
    EXPECT_TRUE(fv::DeviceIoControl(other, kEcho, small, sizeof small, back, sizeof back, nullptr));
    EXPECT_EQ(back[0], 1);
    ::shutdown(holder.Get(), SHUT_RDWR);
    std::uint32_t returned = 0;
    EXPECT_TRUE(fv::DeviceIoControl(other, kEcho, input.data(), std::uint32_t(input.size()),
                                    output.data(), std::uint32_t(output.size()), &returned));
    EXPECT_EQ(returned, input.size());
    EXPECT_EQ(output.back(), 7);
}

// CPU time the process has used, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) ticks += std::stol(field);  // utime, stime
    }
    return ticks;
}

TEST_F(ControlLimitsTest, OutOfDescriptorsTheListenerRestsInsteadOfSpinning) {
    constexpr int kPeers = 20;
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(done[1]);
        close(ready[0]);
        // The server, in a process that has no room for another descriptor.
        fv::host::PeerLimits limits;
        limits.helloTimeout = std::chrono::minutes(5);
        fv::host::ControlServer server(device, fv::host::PeerPolicy{getuid(), gid_t(-1)}, limits);
        if (!server.Start(path)) _exit(2);
        int highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        }
        const rlimit low{rlim_t(highest + 1), rlim_t(highest + 1)};
        if (setrlimit(RLIMIT_NOFILE, &low) != 0) _exit(3);
        // Every free number below the limit is filled: not one connection can be taken.
        while (open("/dev/null", O_RDONLY) >= 0) {
        }
        char byte = 'r';
        if (write(ready[1], &byte, 1) != 1) _exit(4);
        (void)!read(done[0], &byte, 1);
        _exit(0);
    }
    close(done[0]);
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    std::vector<fv::UniqueFd> peers;
    for (int i = 0; i < kPeers; ++i) peers.push_back(Connect());
    // The peers wait in the server's backlog, readable all the while.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long before = CpuTicks(child);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long used = CpuTicks(child) - before;
    close(done[1]);
    peers.clear();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Spinning costs all of the second it is given (on a busy machine, a share of it); resting,
    // next to nothing.
    EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 10) << used << " ticks in a second";
}

}  // namespace
