// The client transport against devices that stop answering part-way (a stopped or wedged
// daemon): every call gives up with ERROR_SEM_TIMEOUT, and a handle that gave up is never used
// again.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fv_platform/ControlWire.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/UniqueFd.h"

namespace {

// How long a stalled device holds its connections before it lets them go. Far beyond the
// client's own time-out: a client that waits for the device gets the end of the stream and
// the wrong error, rather than hanging the test.
constexpr auto kDevicePatience = std::chrono::seconds(30);

enum class Stall {
    Accepting,  // never accepts: connections pile up in the listen queue
    Hello,      // accepts and reads the hello, never answers it
    Request,    // answers the hello, then neither reads nor answers anything
    ReplyData,  // answers one request with its header and half the data it promises
};

// A device socket served by a thread of its own that answers only as far as its stall allows.
class StalledDevice {
public:
    StalledDevice(const std::filesystem::path& dir, Stall stall) : stall_(stall) {
        static std::atomic<int> made{0};
        path_ = (dir / ("dev-" + std::to_string(made++))).string();
        listen_.Reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, path_.c_str());
        EXPECT_EQ(bind(listen_.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        // A queue of one, which the first waiting connection fills.
        EXPECT_EQ(listen(listen_.Get(), stall == Stall::Accepting ? 0 : 8), 0);
        if (stall == Stall::Accepting) filler_ = Connect(true);
        stop_.Reset(eventfd(0, EFD_CLOEXEC));
        thread_ = std::thread([this] { Serve(); });
    }
    ~StalledDevice() {
        const std::uint64_t one = 1;
        EXPECT_EQ(write(stop_.Get(), &one, sizeof one), 8);
        thread_.join();
    }
    const std::string& Path() const { return path_; }
    // Whether the device let its connections go before the client gave up.
    bool GaveUp() const { return gaveUp_.load(); }

private:
    fv::UniqueFd Connect(bool nonBlocking) {
        fv::UniqueFd fd(
            socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, path_.c_str());
        EXPECT_EQ(connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        return fd;
    }

    // Reads a whole hello, closing the descriptors it carried.
    static bool ReadHello(int fd) {
        std::uint32_t head[2] = {};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * fv::wire::kMaxNamedEvents)];
        iovec iov{head, sizeof head};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd, &msg, MSG_CMSG_CLOEXEC | MSG_WAITALL);
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
            const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int received;
                std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof received);
                close(received);
            }
        }
        if (n != ssize_t(sizeof head)) return false;
        for (std::uint32_t i = 0; i < head[1]; ++i) {
            std::uint32_t length = 0;
            if (!fv::wire::ReceiveAll(fd, &length, sizeof length)) return false;
            std::vector<char> name(length);
            if (!fv::wire::ReceiveAll(fd, name.data(), name.size())) return false;
        }
        return true;
    }

    void Answer(int fd) {
        ASSERT_TRUE(ReadHello(fd));
        if (stall_ == Stall::Hello) return;
        const std::uint32_t ok = 0;
        ASSERT_TRUE(fv::wire::SendAll(fd, &ok, sizeof ok));
        if (stall_ == Stall::Request) return;
        fv::wire::RequestHeader request{};
        ASSERT_TRUE(fv::wire::ReceiveAll(fd, &request, sizeof request));
        std::vector<char> input(request.inputLength);
        ASSERT_TRUE(fv::wire::ReceiveAll(fd, input.data(), input.size()));
        const fv::wire::ReplyHeader reply{0, request.outputLength, request.outputLength};
        ASSERT_TRUE(fv::wire::SendAll(fd, &reply, sizeof reply));
        const std::vector<char> half(request.outputLength / 2, 'h');
        ASSERT_TRUE(fv::wire::SendAll(fd, half.data(), half.size()));
    }

    void Serve() {
        std::vector<fv::UniqueFd> held;
        const auto until = std::chrono::steady_clock::now() + kDevicePatience;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                gaveUp_.store(true);
                break;
            }
            pollfd p[2] = {{stop_.Get(), POLLIN, 0},
                           {listen_.Get(), short(stall_ == Stall::Accepting ? 0 : POLLIN), 0}};
            if (poll(p, 2, int(left.count())) <= 0) continue;
            if (p[0].revents != 0) break;
            if (p[1].revents != 0) {
                held.emplace_back(accept4(listen_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
                Answer(held.back().Get());
            }
        }
        // Whoever still waits on the device learns that it is gone.
        listen_.Reset();
        filler_.Reset();
    }

    Stall stall_;
    std::string path_;
    fv::UniqueFd listen_;
    fv::UniqueFd filler_;
    fv::UniqueFd stop_;
    std::atomic<bool> gaveUp_{false};
    std::thread thread_;
};

struct Outcome {
    bool valid = true;
    std::uint32_t error = 0;
    bool ok = true;
    std::uint32_t returned = 1;
    // The next call on the same handle.
    std::uint32_t nextError = 0;
};

class DeviceTimeoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("fvstall-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
};

Outcome Open(const std::string& path) {
    Outcome o;
    fv::DeviceHandle h = fv::OpenDevice(path);
    o.valid = h.Valid();
    o.error = fv::GetLastError();
    return o;
}

// One request on a freshly opened handle, then one more on the same handle.
Outcome Request(const std::string& path, std::uint32_t inputLength, std::uint32_t outputLength) {
    Outcome o;
    fv::DeviceHandle h = fv::OpenDevice(path);
    if (!h.Valid()) {
        o.valid = false;
        o.error = fv::GetLastError();
        return o;
    }
    std::vector<char> input(inputLength, 'i');
    std::vector<char> output(outputLength);
    o.ok = fv::DeviceIoControl(h, 1, input.data(), inputLength, output.data(), outputLength,
                               &o.returned);
    o.error = fv::GetLastError();
    o.valid = h.Valid();
    std::uint32_t word = 0;
    (void)fv::DeviceIoControl(h, 1, nullptr, 0, &word, sizeof word, nullptr);
    o.nextError = fv::GetLastError();
    return o;
}

TEST_F(DeviceTimeoutTest, EveryCallGivesUpOnADeviceThatStopsAnswering) {
    StalledDevice accepting(dir, Stall::Accepting);
    StalledDevice hello(dir, Stall::Hello);
    StalledDevice request(dir, Stall::Request);
    StalledDevice upload(dir, Stall::Request);
    StalledDevice replyData(dir, Stall::ReplyData);
    // The stalls run side by side: the test waits out the time-out once.
    Outcome noRoom, noHello, noReply, noRead, halfReply;
    std::vector<std::thread> calls;
    calls.emplace_back([&] { noRoom = Open(accepting.Path()); });
    calls.emplace_back([&] { noHello = Open(hello.Path()); });
    calls.emplace_back([&] { noReply = Request(request.Path(), 4, 4); });
    // More input than the socket buffers hold: the send itself stalls.
    calls.emplace_back([&] { noRead = Request(upload.Path(), 16u << 20, 0); });
    calls.emplace_back([&] { halfReply = Request(replyData.Path(), 4, 4096); });
    for (auto& t : calls) t.join();

    for (const StalledDevice* d : {&accepting, &hello, &request, &upload, &replyData}) {
        EXPECT_FALSE(d->GaveUp()) << d->Path() << ": the client waited for the device";
    }
    EXPECT_FALSE(noRoom.valid);
    EXPECT_EQ(noRoom.error, fv::kErrorSemTimeout);
    EXPECT_FALSE(noHello.valid);
    EXPECT_EQ(noHello.error, fv::kErrorSemTimeout);
    for (const Outcome* o : {&noReply, &noRead, &halfReply}) {
        EXPECT_FALSE(o->ok);
        EXPECT_EQ(o->error, fv::kErrorSemTimeout);
        EXPECT_EQ(o->returned, 0u);
        // Its stream is out of step: the handle is finished, and the next call says so.
        EXPECT_FALSE(o->valid);
        EXPECT_EQ(o->nextError, fv::kErrorInvalidHandle);
    }
}

}  // namespace
