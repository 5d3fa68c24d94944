// The daemon's reports to the service manager: the datagram itself, and when ferrovane-sys sends
// READY=1 (only once its control socket is served) or does not (a start that failed).
#include "fv_drv/host/ServiceNotify.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fv_platform/UniqueFd.h"

namespace {

using fv::UniqueFd;
using fv::host::ServiceNotifier;

// A fail-safe only: every wait below ends on an event long before this.
constexpr int kPatienceMs = 30000;

// The service manager's end: a datagram socket at a path or an abstract name ("@...").
class Listener {
public:
    explicit Listener(std::string name) : name_(std::move(name)) {
        fd_.Reset(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, name_.data(), name_.size());
        socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + name_.size());
        if (name_[0] == '@') {
            a.sun_path[0] = '\0';
        } else {
            ++length;
            unlink(name_.c_str());
        }
        bound_ = bind(fd_.Get(), reinterpret_cast<sockaddr*>(&a), length) == 0;
    }
    ~Listener() {
        if (name_[0] == '/') unlink(name_.c_str());
    }
    bool Bound() const { return bound_; }
    const std::string& Name() const { return name_; }

    // The next datagram, or "" when none arrives within `ms`.
    std::string Next(int ms = kPatienceMs) {
        pollfd p{fd_.Get(), POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return {};
        char buffer[4096];
        const ssize_t n = recv(fd_.Get(), buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
    }

private:
    std::string name_;
    UniqueFd fd_;
    bool bound_ = false;
};

std::string TempName(const char* what) {
    return (std::filesystem::temp_directory_path() /
            ("fv-notify-" + std::to_string(getpid()) + "-" + what))
        .string();
}

TEST(ServiceNotify, ReachesPathAndAbstractSocketsAndRefusesOtherAddresses) {
    for (const std::string& name :
         {TempName("sock"), "@fv-notify-" + std::to_string(getpid())}) {
        Listener listener(name);
        ASSERT_TRUE(listener.Bound()) << name;
        EXPECT_TRUE(ServiceNotifier(name).Send("READY=1\nSTATUS=x"));
        EXPECT_EQ(listener.Next(), "READY=1\nSTATUS=x") << name;
    }
    // Relative, bare marker, longer than a socket address holds, embedded NUL: nothing sent.
    for (const std::string& bad : {std::string("notify"), std::string("@"), std::string("/"),
                                   "/" + std::string(200, 'a'), std::string("/a\0b", 4)}) {
        EXPECT_FALSE(ServiceNotifier(bad).Send("READY=1")) << bad;
    }
    EXPECT_FALSE(ServiceNotifier().Send("READY=1"));
    EXPECT_EQ(fv::host::StatusLine("a\nb\rc"), "a b c");
}

TEST(ServiceNotify, TakesTheAddressOutOfTheEnvironment) {
    const std::string name = TempName("env");
    Listener listener(name);
    ASSERT_TRUE(listener.Bound());
    setenv("NOTIFY_SOCKET", name.c_str(), 1);
    const ServiceNotifier notifier = ServiceNotifier::FromEnvironment();
    // The tools the daemon runs must not be able to report for it.
    EXPECT_EQ(getenv("NOTIFY_SOCKET"), nullptr);
    EXPECT_TRUE(notifier.Send("READY=1"));
    EXPECT_EQ(listener.Next(), "READY=1");
}

// ferrovane-sys with NOTIFY_SOCKET naming `listener`; returns its pid.
pid_t StartDaemon(const Listener& listener, const std::vector<std::string>& args) {
    std::vector<std::string> argv{FV_FERROVANE_SYS};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string variable = "NOTIFY_SOCKET=" + listener.Name();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    char* environment[] = {const_cast<char*>(variable.c_str()), nullptr};
    execve(raw[0], raw.data(), environment);
    _exit(127);
}

// Ends a daemon the test left running when an assertion failed.
struct Reaper {
    pid_t pid;
    ~Reaper() {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
};

int ExitStatus(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Whether one of the message's lines is `line`.
bool Contains(const std::string& message, const std::string& line) {
    std::size_t start = 0;
    while (start <= message.size()) {
        std::size_t end = message.find('\n', start);
        if (end == std::string::npos) end = message.size();
        if (message.compare(start, end - start, line) == 0) return true;
        start = end + 1;
    }
    return false;
}

bool CanConnect(const std::string& path) {
    const UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    return connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

TEST(ServiceNotify, DaemonIsReadyOnlyWhenItServesAndSaysWhenItStops) {
    const std::string dir = TempName("dev");
    std::filesystem::remove_all(dir);
    Listener listener(TempName("daemon"));
    ASSERT_TRUE(listener.Bound());
    const pid_t daemon = StartDaemon(listener, {"--sim", "--device-dir", dir});
    Reaper reaper{daemon};
    std::string message;
    do {
        message = listener.Next();
    } while (!message.empty() && !Contains(message, "READY=1"));
    ASSERT_FALSE(message.empty()) << "no READY=1";
    // Whoever was waiting for READY may use the device at once.
    EXPECT_TRUE(CanConnect(dir + "/Ferrovane"));
    EXPECT_NE(message.find("STATUS=Filtering simulated adapters"), std::string::npos) << message;
    kill(daemon, SIGTERM);
    message = listener.Next();
    EXPECT_TRUE(Contains(message, "STOPPING=1")) << message;
    EXPECT_EQ(ExitStatus(daemon), 0);
    reaper.pid = 0;
    std::filesystem::remove_all(dir);
}

TEST(ServiceNotify, DaemonThatCannotStartIsNeverReady) {
    const std::string dir = TempName("dev-failed");
    Listener listener(TempName("failed"));
    ASSERT_TRUE(listener.Bound());
    // An interface that does not exist: the bindings fail after the driver has loaded.
    const pid_t daemon =
        StartDaemon(listener, {"--sim", "--bind", "fvnotthere0", "--device-dir", dir});
    EXPECT_EQ(ExitStatus(daemon), 1);
    bool failureReported = false;
    for (std::string m = listener.Next(0); !m.empty(); m = listener.Next(0)) {
        EXPECT_FALSE(Contains(m, "READY=1")) << m;
        if (m.find("STATUS=Failed to start: ") != std::string::npos) failureReported = true;
    }
    EXPECT_TRUE(failureReported);
    std::filesystem::remove_all(dir);
}

}  // namespace
