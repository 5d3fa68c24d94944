#include "fv_drv/host/ControlServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <new>
#include <system_error>
#include <utility>

#include "fv_platform/ControlWire.h"

namespace fv::host {

namespace wire = fv::wire;

struct ControlServer::Connection {
    fv::UniqueFd fd;
    uid_t uid = uid_t(-1);
    bool privileged = false;  // root or the daemon's own user
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

using Clock = std::chrono::steady_clock;

// While the process is out of descriptors, the listener rests this long between tries rather
// than waking at once for the connection it cannot take.
constexpr auto kAcceptBackoff = std::chrono::milliseconds(100);
// Descriptors kept free for everything but the control connections: media, the queue, and the
// programs started to remove the rules at a stop.
constexpr std::size_t kDescriptorReserve = 1024;
constexpr auto kRefusalReportInterval = std::chrono::seconds(60);
// A connection's buffer larger than this is given back after its request.
constexpr std::size_t kKeptBufferBytes = 64u << 10;

// Reads the hello and takes the descriptors that came with it: those of the events the device
// uses, the first of each name. Every other descriptor is closed, and all of them on failure.
bool ReceiveHello(int fd, const ControlDevice& device, std::vector<NamedEventFd>& events) {
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
    // A failed receive brought no descriptors and left `control` as the stack held it: walking
    // it could take another connection's old descriptor numbers for ours and close them.
    if (n < 0) return false;

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
    // The events the device uses take their descriptors along; the others close with `fds`.
    for (std::uint32_t i = 0; i < head[1]; ++i) {
        const bool seen = std::any_of(events.begin(), events.end(),
                                      [&](const NamedEventFd& e) { return e.name == names[i]; });
        if (seen || !device.UsesEvent(names[i])) continue;
        events.push_back({std::move(names[i]), std::move(fds[i])});
    }
    return true;
}

// Whole-buffer receive that gives up at `deadline`; an ended stream fails too.
bool ReceiveBy(int fd, void* data, std::size_t length, Clock::time_point deadline) {
    return wire::ReceiveAllBy(fd, data, length, deadline) == wire::Transfer::Done;
}

// Reads and forgets `length` bytes by `deadline`.
bool DiscardBy(int fd, std::size_t length, Clock::time_point deadline) {
    char scrap[4096];
    while (length > 0) {
        const std::size_t part = std::min(length, sizeof scrap);
        if (!ReceiveBy(fd, scrap, part, deadline)) return false;
        length -= part;
    }
    return true;
}

// Sends both parts whole, giving up at `deadline`: a peer that stops reading its reply cannot
// keep the reply's buffer.
bool SendBy(int fd, const void* head, std::size_t headLength, const void* body,
            std::size_t bodyLength, Clock::time_point deadline) {
    iovec parts[2] = {{const_cast<void*>(head), headLength},
                      {const_cast<void*>(body), bodyLength}};
    iovec* next = parts;
    std::size_t count = bodyLength != 0 ? 2 : 1;
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = next;
        msg.msg_iovlen = count;
        ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) ||
                wire::WaitReadyBy(fd, POLLOUT, deadline) != wire::Transfer::Done) {
                return false;
            }
            continue;
        }
        while (count > 0 && std::size_t(n) >= next->iov_len) {
            n -= ssize_t(next->iov_len);
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + n;
            next->iov_len -= std::size_t(n);
        }
    }
    return true;
}

// Waits, without limit, for the first byte of the next request. Requests follow replies within
// microseconds while a reader drains a ring, so the socket is watched briefly before blocking.
bool AwaitRequest(int fd) {
    const auto until = Clock::now() + std::chrono::microseconds(wire::kSpinMicroseconds);
    char byte;
    do {
        const ssize_t n = recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
        if (n == 1) return true;
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) return false;
    } while (Clock::now() < until);
    for (;;) {
        const ssize_t n = recv(fd, &byte, 1, MSG_PEEK);
        if (n == 1) return true;
        if (n == 0 || errno != EINTR) return false;
    }
}

// Raises the soft descriptor limit towards `wanted`, as far as the hard limit allows.
void RaiseDescriptorLimit(std::size_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted) return;
    limit.rlim_cur = std::min<rlim_t>(rlim_t(wanted), limit.rlim_max);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        // The connections are capped anyway; running out only delays accepting.
    }
}

}  // namespace

bool PeerAllowed(const PeerPolicy& policy, uid_t uid, gid_t gid, const std::vector<gid_t>& groups) {
    if (uid == 0 || uid == policy.ownUid) return true;
    if (policy.deviceGid == gid_t(-1)) return false;
    return gid == policy.deviceGid ||
           std::find(groups.begin(), groups.end(), policy.deviceGid) != groups.end();
}

std::size_t DescriptorsNeeded(const PeerLimits& limits) {
    // Members' and privileged peers' connections, each with its socket and a hello's events.
    return 2 * limits.maxConnections * (1 + wire::kMaxNamedEvents) + kDescriptorReserve;
}

ControlServer::ControlServer(ControlDevice& device, PeerPolicy policy, PeerLimits limits)
    : device_(device), policy_(policy), limits_(limits), budget_(limits.bytesInFlight) {}

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
    RaiseDescriptorLimit(DescriptorsNeeded(limits_));
    budget_.Reopen();
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
    budget_.Close();  // no connection waits for it any more
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
    pollfd fds[2] = {{stopFd_.Get(), POLLIN, 0}, {listenFd_.Get(), POLLIN, 0}};
    auto restUntil = Clock::time_point::min();
    bool resting = false;
    for (;;) {
        int timeout = DropSilentPeers();
        const auto now = Clock::now();
        const bool rest = now < restUntil;
        if (rest) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(restUntil - now);
            timeout = timeout < 0 ? int(left.count()) : std::min(timeout, int(left.count()));
        }
        fds[1].revents = 0;
        if (poll(fds, rest ? 1 : 2, timeout) < 0 && errno != EINTR) return;
        if ((fds[0].revents & POLLIN) != 0) return;
        if (rest || (fds[1].revents & POLLIN) == 0) continue;
        if (AcceptOne()) {
            if (std::exchange(resting, false)) {
                std::fprintf(stderr, "ferrovane-sys: accepting control connections again\n");
            }
        } else {
            if (!std::exchange(resting, true)) {
                std::fprintf(stderr, "ferrovane-sys: out of descriptors: control connections wait\n");
            }
            restUntil = Clock::now() + kAcceptBackoff;
        }
    }
}

bool ControlServer::MayConnect(uid_t uid, bool privileged) const {
    std::size_t shared = 0;
    std::size_t mine = 0;
    for (const auto& c : connections_) {
        if (c->privileged != privileged) continue;
        ++shared;
        if (c->uid == uid) ++mine;
    }
    if (shared >= limits_.maxConnections) return false;
    return privileged || mine < std::max<std::size_t>(limits_.connectionsPerUser, 1);
}

bool ControlServer::AcceptOne() {
    fv::UniqueFd fd(accept4(listenFd_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd) return errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM;
    // Credentials the kernel recorded at connect.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return true;
    const bool privileged = peer.uid == 0 || peer.uid == policy_.ownUid;
    ReapFinished();
    std::lock_guard guard(lock_);
    if (!MayConnect(peer.uid, privileged)) {
        // Reported now and then, not once per refusal: a peer may knock thousands of times.
        ++refused_;
        const auto now = Clock::now();
        if (now >= nextRefusalReport_) {
            std::fprintf(stderr,
                         "ferrovane-sys: refusing control connections (uid %u; %zu open, %zu "
                         "refused since the last report)\n",
                         unsigned(peer.uid), connections_.size(), refused_);
            refused_ = 0;
            nextRefusalReport_ = now + kRefusalReportInterval;
        }
        return true;  // the peer sees its connection closed
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = std::move(fd);
    connection->uid = peer.uid;
    connection->privileged = privileged;
    connection->helloDeadline = std::chrono::steady_clock::now() + limits_.helloTimeout;
    Connection& c = *connection;
    try {
        c.thread = std::thread([this, &c] {
            Serve(c);
            // Finished before the peer sees the end, so that a peer reconnecting at once is not
            // counted against the cap twice; the descriptor is closed when the thread is reaped.
            c.finished = true;
            shutdown(c.fd.Get(), SHUT_RDWR);
        });
    } catch (const std::system_error&) {
        return true;  // no thread to serve it: the peer sees its connection closed
    }
    connections_.push_back(std::move(connection));
    return true;
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
    if (!ReceiveHello(fd, device_, events)) return;
    connection.greeted = true;
    // Credentials the kernel recorded at connect: nothing a later process can change.
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        !PeerAllowed(policy_, peer.uid, peer.gid, PeerGroups(fd))) {
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
    for (;;) {
        if (!AwaitRequest(fd)) break;
        // A request, once begun, arrives whole in time or the connection is dropped.
        auto deadline = Clock::now() + limits_.requestTimeout;
        wire::RequestHeader request;
        if (!ReceiveBy(fd, &request, sizeof request, deadline)) break;
        if (request.inputLength > wire::kMaxBufferLength ||
            request.outputLength > wire::kMaxBufferLength) {
            break;
        }
        const std::size_t size = std::max(request.inputLength, request.outputLength);
        const std::size_t budgeted = size > limits_.smallRequestBytes ? size : 0;
        bool held = budgeted == 0 ||
                    budget_.Take(connection.uid, budgeted, Clock::now() + limits_.budgetWait);
        // Buffered transfer: one system buffer for input and output, zeroed so that no byte
        // of an earlier request can travel back in a reply.
        if (held) {
            try {
                buffer.assign(size, 0);
            } catch (const std::bad_alloc&) {
                buffer = {};
                if (budgeted != 0) budget_.Give(connection.uid, budgeted);
                held = false;
            }
        }
        // A large input's time counts from when it may flow: not while it waited its turn, nor
        // while its buffer was made.
        if (budgeted != 0 && held) deadline = Clock::now() + limits_.requestTimeout;
        wire::ReplyHeader reply{STATUS_INSUFFICIENT_RESOURCES, 0, 0};
        bool ok;
        if (held) {
            ok = ReceiveBy(fd, buffer.data(), request.inputLength, deadline);
            if (ok) {
                std::uint32_t information = 0;
                reply.status = handle->DeviceControl(request.code, buffer.data(),
                                                     request.inputLength, request.outputLength,
                                                     &information);
                reply.information = information;
                if (StatusReturnsData(reply.status)) {
                    reply.returned = std::min(information, request.outputLength);
                }
                // Header and data in one write: the client wakes once per reply.
                ok = SendBy(fd, &reply, sizeof reply, buffer.data(), reply.returned,
                            Clock::now() + limits_.requestTimeout);
            }
            if (buffer.capacity() > kKeptBufferBytes) buffer = {};
            if (budgeted != 0) budget_.Give(connection.uid, budgeted);
        } else {
            // No room now: the peer's input is read and forgotten, and the request fails.
            ok = DiscardBy(fd, request.inputLength, Clock::now() + limits_.requestTimeout) &&
                 SendBy(fd, &reply, sizeof reply, nullptr, 0, Clock::now() + limits_.requestTimeout);
        }
        if (!ok) break;
    }
    // The handle closes here, on this connection's thread, as the peer went away.
}

}  // namespace fv::host
