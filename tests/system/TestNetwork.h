// A private network for the system tests: the test process is the workstation (its own network
// namespace), a second namespace is the remote side, joined by a veth pair. ferrovane-sys runs
// on the workstation side with the TAP intermediate; the remote side answers ICMP, echoes UDP
// and TCP, and can send to the workstation from a listed and an unlisted address.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "tests/system/NetnsFixture.h"

namespace fv::systest {

inline constexpr const char* kLower = "fvw0";
inline constexpr const char* kUpper = "fv-fvw0";
inline constexpr const char* kRemoteLink = "fvr0";
inline constexpr const char* kWorkstationAddress = "10.201.0.2";
inline constexpr const char* kUnlistedRemote = "10.201.0.1";
inline constexpr const char* kListedRemote = "10.201.0.66";
inline constexpr std::uint16_t kEchoPort = 7007;
// A second adapter, bound when asked for: its own link to the remote side and subnet.
inline constexpr const char* kLowerB = "fvw1";
inline constexpr const char* kRemoteLinkB = "fvr1";
inline constexpr const char* kWorkstationAddressB = "10.202.0.2";
inline constexpr const char* kListedRemoteB = "10.202.0.66";

inline std::uint32_t HostOrder(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return ntohl(a.s_addr);
}

// Runs `body` in a child process inside the named namespace; returns the child's pid.
inline pid_t SpawnIn(const std::string& ns, const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) _exit(90);
    _exit(body());
}

inline int WaitExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

inline sockaddr_in Address(const char* dotted, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, dotted, &a.sin_addr);
    return a;
}

inline void SetTimeout(int fd, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Sends one datagram from `from` (any address when null) to `to` and waits for the echo.
inline bool UdpEcho(const char* from, const char* to, int timeoutMs = 700) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    SetTimeout(fd, timeoutMs);
    if (from != nullptr) {
        sockaddr_in local = Address(from, 0);
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in remote = Address(to, kEchoPort);
    const char message[] = "ferrovane";
    sendto(fd, message, sizeof message, 0, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    char reply[64];
    const bool echoed = recv(fd, reply, sizeof reply, 0) == ssize_t(sizeof message);
    close(fd);
    return echoed;
}

inline bool TcpEcho(const char* to, int timeoutMs = 700) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    SetTimeout(fd, timeoutMs);
    sockaddr_in remote = Address(to, kEchoPort);
    bool echoed = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0) {
        const char message[] = "ferrovane";
        char reply[sizeof message];
        echoed = send(fd, message, sizeof message, 0) == ssize_t(sizeof message) &&
                 recv(fd, reply, sizeof reply, MSG_WAITALL) == ssize_t(sizeof message);
    }
    close(fd);
    return echoed;
}

// One ICMP echo request (raw socket, root) and its reply.
bool Ping(const char* to, int timeoutMs = 700);

// UDP and TCP echo servers on every address of the namespace, until killed.
int EchoServers();

class TestNetwork {
public:
    // Builds the network and starts ferrovane-sys; check Ready() after.
    explicit TestNetwork(const std::string& daemonPath, bool secondAdapter = false);
    ~TestNetwork();
    bool Ready() const { return ready_; }
    const std::string& DeviceSocket() const { return socket_; }
    const std::string& RemoteNamespace() const { return remote_; }
    pid_t Daemon() const { return daemon_; }
    // SIGTERM to the daemon; its exit code.
    int StopDaemon();

private:
    std::string remote_;
    std::filesystem::path deviceDir_;
    std::string socket_;
    pid_t daemon_ = -1;
    pid_t servers_ = -1;
    bool ready_ = false;
    bool secondAdapter_ = false;
};

}  // namespace fv::systest
