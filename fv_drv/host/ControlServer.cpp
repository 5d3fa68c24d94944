#include "ControlServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "fv_platform/ControlWire.h"

namespace fvhost {

namespace wire = fv::wire;

struct ControlServer::Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> finished{false};
};

namespace {

constexpr std::uint32_t kStatusUnsuccessful = 0xC0000001;

// Supplementary groups of a process, from /proc.
bool ProcessInGroup(pid_t pid, gid_t gid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Groups:", 0) != 0) continue;
        std::istringstream groups(line.substr(7));
        long g;
        while (groups >> g) {
            if (gid_t(g) == gid) return true;
        }
    }
    return false;
}

// Reads the hello and takes the descriptors that came with it. The descriptors are closed
// on any failure.
bool ReceiveHello(int fd, std::vector<NamedEventFd>& events) {
    std::uint32_t head[2];
    iovec iov{head, sizeof head};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * wire::kMaxNamedEvents)];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = recvmsg(fd, &msg, MSG_CMSG_CLOEXEC | MSG_WAITALL);
    } while (n < 0 && errno == EINTR);

    std::vector<int> fds;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            fds.push_back(received);
        }
    }
    auto fail = [&] {
        for (int f : fds) close(f);
        return false;
    };
    if (n != ssize_t(sizeof head) || (msg.msg_flags & MSG_CTRUNC) != 0) return fail();
    if (head[0] != wire::kHelloMagic || head[1] > wire::kMaxNamedEvents || head[1] != fds.size()) {
        return fail();
    }
    for (std::uint32_t i = 0; i < head[1]; ++i) {
        std::uint32_t length;
        if (!wire::ReceiveAll(fd, &length, sizeof length) || length > wire::kMaxEventNameLength) {
            return fail();
        }
        std::string name(length, '\0');
        if (!wire::ReceiveAll(fd, name.data(), length)) return fail();
        events.push_back({std::move(name), fds[i]});
    }
    return true;
}

}  // namespace

bool PeerAllowed(const PeerPolicy& policy, uid_t uid, gid_t gid, pid_t pid) {
    if (uid == 0 || uid == policy.ownUid) return true;
    if (policy.deviceGid == gid_t(-1)) return false;
    return gid == policy.deviceGid || ProcessInGroup(pid, policy.deviceGid);
}

ControlServer::ControlServer(ControlDevice& device, PeerPolicy policy)
    : device_(device), policy_(policy) {}

ControlServer::~ControlServer() {
    Stop();
}

bool ControlServer::Start(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (listenFd_ < 0 || stopFd_ < 0) return false;
    // A socket that still answers belongs to a running daemon: never take it over. One left by
    // a daemon that died is removed.
    {
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool answered = probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&address),
                                                    sizeof address) == 0;
        if (probe >= 0) close(probe);
        if (answered) {
            close(std::exchange(listenFd_, -1));
            close(std::exchange(stopFd_, -1));
            errno = EADDRINUSE;
            return false;
        }
    }
    unlink(path.c_str());
    const mode_t oldMask = umask(0117);
    const int bound = bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    umask(oldMask);
    if (bound != 0 || listen(listenFd_, SOMAXCONN) != 0) {
        const int saved = errno;
        close(listenFd_);
        listenFd_ = -1;
        errno = saved;
        return false;
    }
    path_ = path;
    if (policy_.deviceGid != gid_t(-1)) {
        if (chown(path.c_str(), uid_t(-1), policy_.deviceGid) != 0) {
            // Not fatal: root and the daemon's user can still open it.
        }
    }
    chmod(path.c_str(), 0660);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void ControlServer::Stop() {
    if (acceptThread_.joinable()) {
        const std::uint64_t one = 1;
        ssize_t ignored = write(stopFd_, &one, sizeof one);
        (void)ignored;
        acceptThread_.join();
    }
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard guard(lock_);
        connections.swap(connections_);
    }
    for (auto& c : connections) shutdown(c->fd, SHUT_RDWR);
    for (auto& c : connections) {
        c->thread.join();
        close(c->fd);
    }
    if (listenFd_ >= 0) close(std::exchange(listenFd_, -1));
    if (stopFd_ >= 0) close(std::exchange(stopFd_, -1));
    if (!path_.empty()) unlink(std::exchange(path_, {}).c_str());
}

std::size_t ControlServer::ConnectionCount() {
    ReapFinished();
    std::lock_guard guard(lock_);
    return connections_.size();
}

void ControlServer::ReapFinished() {
    std::list<std::unique_ptr<Connection>> done;
    {
        std::lock_guard guard(lock_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->finished.load()) {
                done.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : done) {
        c->thread.join();
        close(c->fd);
    }
}

void ControlServer::AcceptLoop() {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if ((fds[1].revents & POLLIN) != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ReapFinished();
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        Connection& c = *connection;
        std::lock_guard guard(lock_);
        connections_.push_back(std::move(connection));
        c.thread = std::thread([this, &c] {
            Serve(c);
            // The peer sees the end at once; the descriptor is closed when the thread is reaped.
            shutdown(c.fd, SHUT_RDWR);
            c.finished = true;
        });
    }
}

void ControlServer::Serve(Connection& connection) {
    const int fd = connection.fd;
    ucred peer{};
    socklen_t length = sizeof peer;
    std::vector<NamedEventFd> events;
    if (!ReceiveHello(fd, events)) return;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        !PeerAllowed(policy_, peer.uid, peer.gid, peer.pid)) {
        for (auto& e : events) close(e.fd);
        const std::uint32_t denied = wire::kStatusAccessDenied;
        wire::SendAll(fd, &denied, sizeof denied);
        return;
    }
    std::unique_ptr<ControlHandle> handle;
    const std::uint32_t created = device_.Create(std::move(events), handle);
    if (created != wire::kStatusSuccess || handle == nullptr) {
        const std::uint32_t status =
            created != wire::kStatusSuccess ? created : kStatusUnsuccessful;
        wire::SendAll(fd, &status, sizeof status);
        return;
    }
    const std::uint32_t ok = wire::kStatusSuccess;
    if (!wire::SendAll(fd, &ok, sizeof ok)) return;

    std::vector<std::uint8_t> buffer;
    std::vector<std::uint8_t> replyBytes;
    for (;;) {
        wire::RequestHeader request;
        if (!wire::ReceiveAllSoon(fd, &request, sizeof request)) break;
        if (request.inputLength > wire::kMaxBufferLength ||
            request.outputLength > wire::kMaxBufferLength) {
            break;
        }
        // Buffered transfer: one system buffer for input and output, zeroed so that no byte
        // of an earlier request can travel back in a reply.
        const std::size_t size = std::max(request.inputLength, request.outputLength);
        buffer.assign(size, 0);
        if (!wire::ReceiveAll(fd, buffer.data(), request.inputLength)) break;
        std::uint32_t information = 0;
        const std::uint32_t status = handle->DeviceControl(
            request.code, buffer.data(), request.inputLength, request.outputLength, &information);
        wire::ReplyHeader reply{status, information, 0};
        if (wire::ReturnsData(status)) reply.returned = std::min(information, request.outputLength);
        // Header and data in one write: the client wakes once per reply.
        replyBytes.resize(sizeof reply + reply.returned);
        std::memcpy(replyBytes.data(), &reply, sizeof reply);
        if (reply.returned != 0)
            std::memcpy(replyBytes.data() + sizeof reply, buffer.data(), reply.returned);
        if (!wire::SendAll(fd, replyBytes.data(), replyBytes.size())) break;
    }
    // The handle closes here, on this connection's thread, as the peer went away.
}

}  // namespace fvhost
