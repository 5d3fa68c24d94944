// The control connection end to end: the client transport against the host's socket server,
// with a scripted device behind it.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "fv_drv/host/ControlServer.h"
#include "fv_platform/ControlWire.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/NamedEvents.h"
#include "fv_platform/Wait.h"
#include "fv_contract/Statuses.h"

namespace {

constexpr std::uint32_t kEcho = 1;         // output = input reversed
constexpr std::uint32_t kSetEvent = 2;     // sets the named event given as input
constexpr std::uint32_t kOverflow = 3;     // warning status with data
constexpr std::uint32_t kFail = 4;         // error status, claims data
constexpr std::uint32_t kCountEvents = 5;  // 4 bytes: events the handle holds

class ScriptedHandle : public fv::host::ControlHandle {
public:
    ScriptedHandle(std::vector<fv::host::NamedEventFd> events, std::atomic<int>& open)
        : events_(std::move(events)), open_(open) {
        ++open_;
    }
    ~ScriptedHandle() override { --open_; }
    std::uint32_t DeviceControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t in,
                                std::uint32_t out, std::uint32_t* information) override {
        switch (code) {
            case kEcho:
                std::reverse(buffer, buffer + in);
                *information = in;
                return 0;
            case kSetEvent: {
                const std::string name(reinterpret_cast<char*>(buffer), in);
                for (auto& e : events_) {
                    if (e.name == name) {
                        const std::uint64_t one = 1;
                        EXPECT_EQ(write(e.fd.Get(), &one, sizeof one), 8);
                        return 0;
                    }
                }
                return STATUS_OBJECT_NAME_NOT_FOUND;
            }
            case kOverflow:
                std::memset(buffer, 0xAB, out);
                *information = out + 100;  // more than the caller's buffer
                return STATUS_BUFFER_OVERFLOW;
            case kFail:
                *information = out;
                return STATUS_INVALID_PARAMETER;
            case kCountEvents: {
                const std::uint32_t n = std::uint32_t(events_.size());
                std::memcpy(buffer, &n, 4);
                *information = 4;
                return 0;
            }
        }
        return STATUS_NOT_SUPPORTED;
    }

private:
    std::vector<fv::host::NamedEventFd> events_;
    std::atomic<int>& open_;
};

class ScriptedDevice : public fv::host::ControlDevice {
public:
    std::uint32_t Create(std::vector<fv::host::NamedEventFd> e,
                         std::unique_ptr<fv::host::ControlHandle>& handle) override {
        if (refuse) return STATUS_INSUFFICIENT_RESOURCES;
        handle = std::make_unique<ScriptedHandle>(std::move(e), open);
        return 0;
    }
    std::atomic<int> open{0};
    std::atomic<bool> refuse{false};
};

class ControlTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("fvctl-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(dir);
        path = (dir / "Ferrovane").string();
        ASSERT_TRUE(server.Start(path));
    }
    void TearDown() override {
        server.Stop();
        EXPECT_FALSE(std::filesystem::exists(path));
        std::filesystem::remove_all(dir);
    }
    // A raw connection that has said hello with no events.
    int RawConnection(bool hello = true) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, path.c_str());
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        if (hello) {
            const std::uint32_t h[2] = {fv::wire::kHelloMagic, 0};
            EXPECT_TRUE(fv::wire::SendAll(fd, h, sizeof h));
            std::uint32_t status = 1;
            EXPECT_TRUE(fv::wire::ReceiveAll(fd, &status, 4));
            EXPECT_EQ(status, 0u);
        }
        return fd;
    }
    static void SetReceiveTimeout(int fd, int ms) {
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    bool Echoes(fv::DeviceHandle& h) {
        const char in[3] = {'a', 'b', 'c'};
        char out[3] = {};
        std::uint32_t got = 0;
        return fv::DeviceIoControl(h, kEcho, in, 3, out, 3, &got) && got == 3 &&
               std::memcmp(out, "cba", 3) == 0;
    }

    static inline int counter = 0;
    std::filesystem::path dir;
    std::string path;
    ScriptedDevice device;
    fv::host::ControlServer server{device, fv::host::PeerPolicy{getuid(), gid_t(-1)}};
};

TEST_F(ControlTransportTest, RequestsAndRepliesRoundTrip) {
    fv::DeviceHandle h = fv::OpenDevice(path);
    ASSERT_TRUE(h.Valid());
    EXPECT_TRUE(Echoes(h));
    // A warning returns data, at most the caller's buffer, and reports false with the error.
    std::uint8_t out[8] = {};
    std::uint32_t got = 0;
    EXPECT_FALSE(fv::DeviceIoControl(h, kOverflow, nullptr, 0, out, 8, &got));
    EXPECT_EQ(fv::GetLastError(), fv::kErrorMoreData);
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(out[7], 0xAB);
    // An error returns nothing even when the device claims bytes.
    std::memset(out, 0, sizeof out);
    EXPECT_FALSE(fv::DeviceIoControl(h, kFail, nullptr, 0, out, 8, &got));
    EXPECT_EQ(fv::GetLastError(), fv::kErrorInvalidParameter);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(out[0], 0);
    EXPECT_FALSE(fv::DeviceIoControl(h, 99, nullptr, 0, nullptr, 0, &got));
    EXPECT_EQ(fv::GetLastError(), fv::kErrorNotSupported);
}

TEST_F(ControlTransportTest, NamedEventsTravelWithTheHandle) {
    auto event = fv::CreateNamedEvent("FvTestEvent", fv::Event::Mode::AutoReset);
    fv::DeviceHandle h = fv::OpenDevice(path);
    ASSERT_TRUE(h.Valid());
    std::uint32_t n = 0;
    ASSERT_TRUE(fv::DeviceIoControl(h, kCountEvents, nullptr, 0, &n, 4, nullptr));
    EXPECT_GE(n, 1u);
    const std::string name = "FvTestEvent";
    ASSERT_TRUE(fv::DeviceIoControl(h, kSetEvent, name.data(), std::uint32_t(name.size()), nullptr,
                                    0, nullptr));
    EXPECT_EQ(fv::WaitForObject(*event, 2000), fv::kWaitObject0);
    fv::ReleaseNamedEvent("FvTestEvent");
}

TEST_F(ControlTransportTest, ASecondServerNeverTakesOverALiveSocket) {
    ScriptedDevice other;
    fv::host::ControlServer second(other, fv::host::PeerPolicy{getuid(), gid_t(-1)});
    EXPECT_FALSE(second.Start(path));
    EXPECT_EQ(errno, EADDRINUSE);
    fv::DeviceHandle h = fv::OpenDevice(path);
    ASSERT_TRUE(h.Valid());
    EXPECT_TRUE(Echoes(h));
    EXPECT_EQ(other.open.load(), 0);
}

TEST_F(ControlTransportTest, AStaleSocketIsReplaced) {
    server.Stop();
    // A socket file nobody listens on, as a daemon that died leaves it.
    const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path.c_str());
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    close(stale);
    ASSERT_TRUE(server.Start(path));
    fv::DeviceHandle h = fv::OpenDevice(path);
    EXPECT_TRUE(Echoes(h));
}

TEST_F(ControlTransportTest, ARefusedCreateFailsTheOpenWithItsStatus) {
    device.refuse = true;
    fv::DeviceHandle h = fv::OpenDevice(path);
    EXPECT_FALSE(h.Valid());
    EXPECT_EQ(fv::GetLastError(), fv::kErrorNoSystemResources);
    EXPECT_EQ(device.open.load(), 0);
}

TEST_F(ControlTransportTest, CloseReturnsOnlyAfterTheDeviceClosedTheHandle) {
    // As with CloseHandle, a caller may reopen what the handle held right after closing it.
    for (int i = 0; i < 50; ++i) {
        fv::DeviceHandle h = fv::OpenDevice(path);
        ASSERT_TRUE(h.Valid());
        EXPECT_EQ(device.open.load(), 1);
        h.Close();
        ASSERT_EQ(device.open.load(), 0) << "round " << i;
    }
}

TEST_F(ControlTransportTest, MalformedPeersNeverDisturbOthers) {
    fv::DeviceHandle good = fv::OpenDevice(path);
    ASSERT_TRUE(good.Valid());

    int badHello = RawConnection(false);  // wrong magic
    const std::uint32_t wrong[2] = {0x12345678, 0};
    ASSERT_TRUE(fv::wire::SendAll(badHello, wrong, sizeof wrong));
    char byte;
    EXPECT_EQ(recv(badHello, &byte, 1, 0), 0);  // closed without a reply
    close(badHello);

    int shortHeader = RawConnection();
    const std::uint32_t half[2] = {kEcho, 4};
    ASSERT_TRUE(fv::wire::SendAll(shortHeader, half, sizeof half));
    close(shortHeader);  // peer goes away mid-request

    int tooLong = RawConnection();
    const std::uint32_t huge[3] = {kEcho, fv::wire::kMaxBufferLength + 1, 0};
    ASSERT_TRUE(fv::wire::SendAll(tooLong, huge, sizeof huge));
    EXPECT_EQ(recv(tooLong, &byte, 1, 0), 0);
    close(tooLong);

    int midInput = RawConnection();
    const std::uint32_t promise[3] = {kEcho, 1000, 1000};
    ASSERT_TRUE(fv::wire::SendAll(midInput, promise, sizeof promise));
    ASSERT_TRUE(fv::wire::SendAll(midInput, "xyz", 3));
    close(midInput);

    int idle = RawConnection(false);  // never says hello; stays open

    EXPECT_TRUE(Echoes(good));
    fv::DeviceHandle later = fv::OpenDevice(path);
    ASSERT_TRUE(later.Valid());
    EXPECT_TRUE(Echoes(later));
    close(idle);
}

TEST_F(ControlTransportTest, ConnectionsRunConcurrently) {
    std::vector<std::thread> clients;
    std::atomic<int> failures{0};
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&] {
            fv::DeviceHandle h = fv::OpenDevice(path);
            for (int i = 0; i < 200; ++i) {
                if (!Echoes(h)) ++failures;
            }
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(ControlTransportTest, PeersOutsideTheDeviceGroupAreRefused) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        fv::DeviceHandle h = fv::OpenDevice(path);
        _exit(!h.Valid() && fv::GetLastError() == fv::kErrorAccessDenied ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A member of the device group by a supplementary group is let in on what it was when it
// connected, even once that process is gone (its pid may belong to anyone by then).
TEST_F(ControlTransportTest, GroupMembershipIsTakenFromTheConnection) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    constexpr gid_t kDeviceGroup = 4242;
    const std::string groupPath = (dir / "Grouped").string();
    fv::host::ControlServer grouped(device, fv::host::PeerPolicy{getuid(), kDeviceGroup});
    ASSERT_TRUE(grouped.Start(groupPath));
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const pid_t child = fork();
    if (child == 0) {
        // Connects as an ordinary user with the group, hands the connection over and exits.
        const gid_t groups[] = {kDeviceGroup};
        if (setgroups(1, groups) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, groupPath.c_str());
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(3);
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof fd)] = {};
        char byte = 0;
        iovec iov{&byte, 1};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof fd);
        std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
        _exit(sendmsg(pair[1], &msg, 0) == 1 ? 0 : 4);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    char byte;
    iovec iov{&byte, 1};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ASSERT_EQ(recvmsg(pair[0], &msg, 0), 1);
    int fd;
    std::memcpy(&fd, CMSG_DATA(CMSG_FIRSTHDR(&msg)), sizeof fd);
    const std::uint32_t hello[2] = {fv::wire::kHelloMagic, 0};
    ASSERT_TRUE(fv::wire::SendAll(fd, hello, sizeof hello));
    std::uint32_t reply = 1;
    ASSERT_TRUE(fv::wire::ReceiveAll(fd, &reply, sizeof reply));
    EXPECT_EQ(reply, STATUS_SUCCESS);
    close(fd);
    close(pair[0]);
    close(pair[1]);
    grouped.Stop();
}

TEST_F(ControlTransportTest, PeersBeyondTheCapAreRefusedUntilOneLeaves) {
    const std::string cappedPath = (dir / "Capped").string();
    fv::host::ControlServer capped(device, fv::host::PeerPolicy{getuid(), gid_t(-1)},
                                 fv::host::PeerLimits{3, std::chrono::seconds(30)});
    ASSERT_TRUE(capped.Start(cappedPath));
    std::vector<fv::DeviceHandle> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(fv::OpenDevice(cappedPath));
        ASSERT_TRUE(held.back().Valid());
    }
    EXPECT_FALSE(fv::OpenDevice(cappedPath).Valid());
    held.pop_back();
    fv::DeviceHandle again = fv::OpenDevice(cappedPath);
    ASSERT_TRUE(again.Valid());
    EXPECT_TRUE(Echoes(again));
    held.clear();
    capped.Stop();
}

TEST_F(ControlTransportTest, APeerThatSaysNothingIsDropped) {
    const std::string quickPath = (dir / "Quick").string();
    fv::host::ControlServer quick(device, fv::host::PeerPolicy{getuid(), gid_t(-1)},
                                fv::host::PeerLimits{64, std::chrono::milliseconds(200)});
    ASSERT_TRUE(quick.Start(quickPath));
    const int silent = socket(AF_UNIX, SOCK_STREAM, 0);
    const int slow = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, quickPath.c_str());
    for (int fd : {silent, slow}) {
        SetReceiveTimeout(fd, 3000);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    // Half a hello is no better than none.
    const std::uint32_t magic = fv::wire::kHelloMagic;
    ASSERT_TRUE(fv::wire::SendAll(slow, &magic, sizeof magic));
    char byte;
    EXPECT_EQ(recv(silent, &byte, 1, 0), 0);
    EXPECT_EQ(recv(slow, &byte, 1, 0), 0);
    close(silent);
    close(slow);
    // A peer that says hello in time stays as long as it likes.
    fv::DeviceHandle h = fv::OpenDevice(quickPath);
    ASSERT_TRUE(h.Valid());
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(Echoes(h));
    h.Close();
    quick.Stop();
}

TEST(PeerPolicy, RootOwnUserAndGroupMembers) {
    const fv::host::PeerPolicy policy{1000, 1500};
    EXPECT_TRUE(fv::host::PeerAllowed(policy, 0, 0, {}));
    EXPECT_TRUE(fv::host::PeerAllowed(policy, 1000, 1000, {}));
    EXPECT_TRUE(fv::host::PeerAllowed(policy, 1001, 1500, {}));
    EXPECT_TRUE(fv::host::PeerAllowed(policy, 1001, 1001, {27, 1500}));
    EXPECT_FALSE(fv::host::PeerAllowed(policy, 1001, 1001, {27, 1501}));
    EXPECT_FALSE(fv::host::PeerAllowed(fv::host::PeerPolicy{1000, gid_t(-1)}, 1001, 1001, {1500}));
}

TEST(DeviceClient, MissingDeviceAndClosedHandle) {
    fv::DeviceHandle h = fv::OpenDevice("/nonexistent/ferrovane/Ferrovane");
    EXPECT_FALSE(h.Valid());
    EXPECT_EQ(fv::GetLastError(), fv::kErrorFileNotFound);
    EXPECT_FALSE(fv::DeviceIoControl(h, kEcho, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(fv::GetLastError(), fv::kErrorInvalidHandle);
}

}  // namespace
