#include "fv_drv/host/ControlServer.h"

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
#include <cstdio>
#include <utility>

#include "fv_platform/ControlWire.h"

namespace fv::host {

namespace wire = fv::wire;

struct ControlServer::Connection {
    fv::UniqueFd fd;
    std::thread thread;
    std::atomic<bool> finished{false};
    std::atomic<bool> greeted{false};  // the hello has been read
    std::chrono::steady_clock::time_point helloDeadline;
    bool dropped = false;  // (server lock)
};

namespace {

// The peer's supplementary groups when it connected; none if the kernel cannot tell.
std::vector<gid_t> PeerGroups(int fd) {
    std::vector<gid_t> groups(16);
    for (;;) {
        socklen_t length = socklen_t(groups.size() * sizeof(gid_t));
        if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
            groups.resize(length / sizeof(gid_t));
            return groups;
        }
        if (errno != ERANGE || length <= groups.size() * sizeof(gid_t)) return {};
        groups.resize(length / sizeof(gid_t));
    }
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

    std::vector<fv::UniqueFd> fds;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            fds.emplace_back(received);
        }
    }
    if (n != ssize_t(sizeof head) || (msg.msg_flags & MSG_CTRUNC) != 0) return false;
    if (head[0] != wire::kHelloMagic || head[1] > wire::kMaxNamedEvents || head[1] != fds.size()) {
        return false;
    }
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < head[1]; ++i) {
        std::uint32_t length;
        if (!wire::ReceiveAll(fd, &length, sizeof length) || length > wire::kMaxEventNameLength) {
            return false;
        }
        std::string name(length, '\0');
        if (!wire::ReceiveAll(fd, name.data(), length)) return false;
        names.push_back(std::move(name));
    }
    // From here the handle owns the descriptors.
    for (std::uint32_t i = 0; i < head[1]; ++i) {
        events.push_back({std::move(names[i]), fds[i].Release()});
    }
    return true;
}

}  // namespace

bool PeerAllowed(const PeerPolicy& policy, uid_t uid, gid_t gid, const std::vector<gid_t>& groups) {
    if (uid == 0 || uid == policy.ownUid) return true;
    if (policy.deviceGid == gid_t(-1)) return false;
    return gid == policy.deviceGid ||
           std::find(groups.begin(), groups.end(), policy.deviceGid) != groups.end();
}

ControlServer::ControlServer(ControlDevice& device, PeerPolicy policy, PeerLimits limits)
    : device_(device), policy_(policy), limits_(limits) {}

ControlServer::~ControlServer() {
    Stop();
}

bool ControlServer::Start(const std::string& path) {
    if (acceptThread_.joinable()) {
        errno = EALREADY;
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fv::UniqueFd listenFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    fv::UniqueFd stopFd(eventfd(0, EFD_CLOEXEC));
    if (!listenFd || !stopFd) return false;
    // A socket that still answers belongs to a running daemon: never take it over. One left by
    // a daemon that died is removed.
    {
        const fv::UniqueFd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (probe && connect(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            errno = EADDRINUSE;
            return false;
        }
    }
    unlink(path.c_str());
    const mode_t oldMask = umask(0117);
    const int bound = bind(listenFd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    umask(oldMask);
    if (bound != 0 || listen(listenFd.Get(), SOMAXCONN) != 0) return false;
    listenFd_ = std::move(listenFd);
    stopFd_ = std::move(stopFd);
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
        ssize_t ignored = write(stopFd_.Get(), &one, sizeof one);
        (void)ignored;
        acceptThread_.join();
    }
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard guard(lock_);
        connections.swap(connections_);
    }
    for (auto& c : connections) shutdown(c->fd.Get(), SHUT_RDWR);
    for (auto& c : connections) c->thread.join();
    listenFd_.Reset();
    stopFd_.Reset();
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
    for (auto& c : done) c->thread.join();
}

void ControlServer::AcceptLoop() {
    pollfd fds[2] = {{listenFd_.Get(), POLLIN, 0}, {stopFd_.Get(), POLLIN, 0}};
    for (;;) {
        const int timeout = DropSilentPeers();
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) return;
        if ((fds[1].revents & POLLIN) != 0) return;
        if ((fds[0].revents & POLLIN) != 0) AcceptOne();
    }
}

void ControlServer::AcceptOne() {
    fv::UniqueFd fd(accept4(listenFd_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd) return;
    ReapFinished();
    std::lock_guard guard(lock_);
    if (connections_.size() >= limits_.maxConnections) {
        if (refused_++ == 0) {
            std::fprintf(stderr,
                         "ferrovane-sys: refusing control connections: %zu are open already\n",
                         connections_.size());
        }
        return;  // the peer sees its connection closed
    }
    if (refused_ != 0) {
        std::fprintf(stderr, "ferrovane-sys: accepting control connections again (%zu refused)\n",
                     refused_);
        refused_ = 0;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = std::move(fd);
    connection->helloDeadline = std::chrono::steady_clock::now() + limits_.helloTimeout;
    Connection& c = *connection;
    connections_.push_back(std::move(connection));
    c.thread = std::thread([this, &c] {
        Serve(c);
        // Finished before the peer sees the end, so that a peer reconnecting at once is not
        // counted against the cap twice; the descriptor is closed when the thread is reaped.
        c.finished = true;
        shutdown(c.fd.Get(), SHUT_RDWR);
    });
}

int ControlServer::DropSilentPeers() {
    const auto now = std::chrono::steady_clock::now();
    auto next = std::chrono::steady_clock::time_point::max();
    std::lock_guard guard(lock_);
    for (auto& c : connections_) {
        if (c->greeted.load() || c->finished.load() || c->dropped) continue;
        if (c->helloDeadline <= now) {
            // Its thread, waiting for the hello, sees the end of the stream and finishes.
            shutdown(c->fd.Get(), SHUT_RDWR);
            c->dropped = true;
        } else {
            next = std::min(next, c->helloDeadline);
        }
    }
    if (next == std::chrono::steady_clock::time_point::max()) return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now);
    return int(std::max<std::int64_t>(wait.count(), 1));
}

void ControlServer::Serve(Connection& connection) {
    const int fd = connection.fd.Get();
    ucred peer{};
    socklen_t length = sizeof peer;
    std::vector<NamedEventFd> events;
    if (!ReceiveHello(fd, events)) return;
    connection.greeted = true;
    // Credentials the kernel recorded at connect: nothing a later process can change.
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        !PeerAllowed(policy_, peer.uid, peer.gid, PeerGroups(fd))) {
        for (auto& e : events) close(e.fd);
        const std::uint32_t denied = STATUS_ACCESS_DENIED;
        (void)wire::SendAll(fd, &denied, sizeof denied);  // the connection closes either way
        return;
    }
    std::unique_ptr<ControlHandle> handle;
    const std::uint32_t created = device_.CreateFor(peer.pid, std::move(events), handle);
    if (created != STATUS_SUCCESS || handle == nullptr) {
        const std::uint32_t status =
            created != STATUS_SUCCESS ? created : STATUS_UNSUCCESSFUL;
        (void)wire::SendAll(fd, &status, sizeof status);  // the connection closes either way
        return;
    }
    const std::uint32_t ok = STATUS_SUCCESS;
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
        if (StatusReturnsData(status)) reply.returned = std::min(information, request.outputLength);
        // Header and data in one write: the client wakes once per reply.
        replyBytes.resize(sizeof reply + reply.returned);
        std::memcpy(replyBytes.data(), &reply, sizeof reply);
        if (reply.returned != 0)
            std::memcpy(replyBytes.data() + sizeof reply, buffer.data(), reply.returned);
        if (!wire::SendAll(fd, replyBytes.data(), replyBytes.size())) break;
    }
    // The handle closes here, on this connection's thread, as the peer went away.
}

}  // namespace fv::host
