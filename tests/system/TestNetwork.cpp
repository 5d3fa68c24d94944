#include "tests/system/TestNetwork.h"

#include <netinet/ip_icmp.h>
#include <poll.h>

#include <vector>

namespace fv::systest {
namespace {

std::uint16_t Checksum(const std::uint8_t* data, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) sum += std::uint32_t(data[i] << 8 | data[i + 1]);
    if (length % 2 != 0) sum += std::uint32_t(data[length - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

bool WaitFor(const std::function<bool()>& condition, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

}  // namespace

bool Ping(const char* to, int timeoutMs) {
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) return false;
    std::uint8_t request[16] = {ICMP_ECHO, 0, 0, 0, 0x46, 0x56, 0, 1, 'f', 'e', 'r', 'r', 'o', 'v', 'a', 'n'};
    const std::uint16_t sum = Checksum(request, sizeof request);
    request[2] = std::uint8_t(sum >> 8);
    request[3] = std::uint8_t(sum);
    sockaddr_in remote = Address(to, 0);
    sendto(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool answered = false;
    while (!answered) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) != 1) break;
        std::uint8_t reply[256];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 28) continue;
        const std::size_t ihl = std::size_t(reply[0] & 0x0F) * 4;
        answered = from.sin_addr.s_addr == remote.sin_addr.s_addr && reply[ihl] == ICMP_ECHOREPLY &&
                   reply[ihl + 4] == 0x46;
    }
    close(fd);
    return answered;
}

int EchoServers() {
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    const int tcp = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(tcp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in any = Address("0.0.0.0", kEchoPort);
    if (bind(udp, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        bind(tcp, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 || listen(tcp, 16) != 0) {
        return 91;
    }
    for (;;) {
        pollfd fds[2] = {{udp, POLLIN, 0}, {tcp, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[0].revents & POLLIN) {
            char buffer[2048];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n > 0) sendto(udp, buffer, size_t(n), 0, reinterpret_cast<sockaddr*>(&from), length);
        }
        if (fds[1].revents & POLLIN) {
            const int c = accept(tcp, nullptr, nullptr);
            if (c < 0) continue;
            SetTimeout(c, 2000);
            char buffer[2048];
            ssize_t n;
            while ((n = recv(c, buffer, sizeof buffer, 0)) > 0) send(c, buffer, size_t(n), 0);
            close(c);
        }
    }
}

TestNetwork::TestNetwork(const std::string& daemonPath, bool secondAdapter)
    : secondAdapter_(secondAdapter) {
    remote_ = "fvremote-" + std::to_string(getpid());
    deviceDir_ = std::filesystem::temp_directory_path() / ("fvsys-" + std::to_string(getpid()));
    std::filesystem::create_directories(deviceDir_);
    socket_ = (deviceDir_ / "Ferrovane").string();
    const std::string r = remote_;
    if (!Run("ip netns add " + r) ||
        !Run(std::string("ip link add ") + kLower + " type veth peer name " + kRemoteLink +
             " netns " + r) ||
        !Run(std::string("ip link set ") + kLower + " up") ||
        !Run("ip -n " + r + " link set lo up") ||
        !Run("ip -n " + r + " link set " + kRemoteLink + " up") ||
        !Run("ip -n " + r + " addr add " + kUnlistedRemote + "/24 dev " + kRemoteLink) ||
        !Run("ip -n " + r + " addr add " + kListedRemote + "/24 dev " + kRemoteLink)) {
        return;
    }
    if (secondAdapter &&
        (!Run(std::string("ip link add ") + kLowerB + " type veth peer name " + kRemoteLinkB +
              " netns " + r) ||
         !Run(std::string("ip link set ") + kLowerB + " up") ||
         !Run("ip -n " + r + " link set " + kRemoteLinkB + " up") ||
         !Run("ip -n " + r + " addr add " + kListedRemoteB + "/24 dev " + kRemoteLinkB))) {
        return;
    }
    daemon_ = fork();
    if (daemon_ == 0) {
        if (secondAdapter) {
            execl(daemonPath.c_str(), daemonPath.c_str(), "--bind", kLower, "--bind", kLowerB,
                  "--device-dir", deviceDir_.c_str(), static_cast<char*>(nullptr));
        } else {
            execl(daemonPath.c_str(), daemonPath.c_str(), "--bind", kLower, "--device-dir",
                  deviceDir_.c_str(), static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    if (!WaitFor([&] { return std::filesystem::exists(socket_); }, 5000)) return;
    // The device can be served a moment before the TAP shows up under its name.
    if (!WaitFor([] { return Run(std::string("ip link show ") + kUpper + " >/dev/null 2>&1"); },
                 5000) ||
        !Run(std::string("ip addr add ") + kWorkstationAddress + "/24 dev " + kUpper)) {
        return;
    }
    const std::string upperB = std::string("fv-") + kLowerB;
    // The device appears with the first adapter; the second may still be binding.
    if (secondAdapter &&
        (!WaitFor([&] { return Run("ip link show " + upperB + " >/dev/null 2>&1"); }, 5000) ||
         !Run(std::string("ip addr add ") + kWorkstationAddressB + "/24 dev " + upperB))) {
        return;
    }
    servers_ = SpawnIn(remote_, EchoServers);
    // The remote side answers once its servers listen and the TAP has its address.
    ready_ = WaitFor([] { return UdpEcho(nullptr, kUnlistedRemote, 100); }, 5000);
}

int TestNetwork::StopDaemon() {
    if (daemon_ <= 0) return -1;
    kill(daemon_, SIGTERM);
    const int code = WaitExit(daemon_);
    daemon_ = -1;
    return code;
}

TestNetwork::~TestNetwork() {
    if (servers_ > 0) {
        kill(servers_, SIGKILL);
        WaitExit(servers_);
    }
    StopDaemon();
    Run(std::string("ip link del ") + kLower + " 2>/dev/null");
    if (secondAdapter_) Run(std::string("ip link del ") + kLowerB + " 2>/dev/null");
    Run("ip netns del " + remote_ + " 2>/dev/null");
    std::filesystem::remove_all(deviceDir_);
}

}  // namespace fv::systest
