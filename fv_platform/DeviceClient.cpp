#include "fv_platform/DeviceClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "fv_platform/ControlWire.h"
#include "fv_platform/NamedEvents.h"

namespace fv {
namespace {

constexpr int kCloseWaitMs = 2000;

thread_local std::uint32_t lastError = kErrorSuccess;

void PutU32(std::vector<char>& out, std::uint32_t v) {
    const char* p = reinterpret_cast<const char*>(&v);
    out.insert(out.end(), p, p + sizeof v);
}

wire::Deadline DeadlineFromNow() {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeviceTimeoutMs);
}

std::uint32_t ErrorFrom(wire::Transfer transfer) {
    return transfer == wire::Transfer::TimedOut ? kErrorSemTimeout : kErrorGenFailure;
}

// The hello with the named events' descriptors attached to its first bytes.
wire::Transfer SendHello(int fd, wire::Deadline deadline) {
    const auto events = NamedEventsSnapshot();
    std::vector<char> hello;
    std::vector<int> fds;
    PutU32(hello, wire::kHelloMagic);
    PutU32(hello, std::uint32_t(events.size()));
    for (const auto& [name, event] : events) {
        PutU32(hello, std::uint32_t(name.size()));
        hello.insert(hello.end(), name.begin(), name.end());
        fds.push_back(event->Fd());
    }
    iovec iov{hello.data(), hello.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    std::vector<char> control(CMSG_SPACE(sizeof(int) * fds.size()));
    if (!fds.empty()) {
        msg.msg_control = control.data();
        msg.msg_controllen = control.size();
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
        std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
    }
    ssize_t sent;
    for (;;) {
        sent = sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) break;
        if (sent < 0 && errno == EINTR) continue;
        if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return wire::Transfer::Broken;
        if (const auto ready = wire::WaitReadyBy(fd, POLLOUT, deadline);
            ready != wire::Transfer::Done) {
            return ready;
        }
    }
    return wire::SendAllBy(fd, hello.data() + sent, hello.size() - std::size_t(sent), deadline);
}

}  // namespace

std::uint32_t GetLastError() {
    return lastError;
}
void SetLastError(std::uint32_t error) {
    lastError = error;
}

std::uint32_t ErrorFromStatus(std::uint32_t status) {
    switch (status) {
        case STATUS_SUCCESS:
            return kErrorSuccess;
        case STATUS_BUFFER_OVERFLOW:
            return kErrorMoreData;
        case STATUS_DEVICE_BUSY:
            return kErrorBusy;
        case STATUS_NO_MORE_ENTRIES:
            return kErrorNoMoreItems;
        case STATUS_UNSUCCESSFUL:
            return kErrorGenFailure;
        case STATUS_INVALID_HANDLE:
            return kErrorInvalidHandle;
        case STATUS_INVALID_PARAMETER:
            return kErrorInvalidParameter;
        case STATUS_ACCESS_DENIED:
            return kErrorAccessDenied;
        case STATUS_BUFFER_TOO_SMALL:
            return kErrorInsufficientBuffer;
        case STATUS_OBJECT_NAME_NOT_FOUND:
            return kErrorFileNotFound;
        case STATUS_INSUFFICIENT_RESOURCES:
            return kErrorNoSystemResources;
        case STATUS_DEVICE_NOT_READY:
            return kErrorNotReady;
        case STATUS_NOT_SUPPORTED:
            return kErrorNotSupported;
        case STATUS_INVALID_DEVICE_STATE:
            return kErrorBadCommand;
        case STATUS_INVALID_BUFFER_SIZE:
            return kErrorInvalidUserBuffer;
        default:
            return kErrorGenFailure;
    }
}

DeviceHandle::DeviceHandle(DeviceHandle&& other) noexcept : fd_(std::move(other.fd_)) {}

DeviceHandle& DeviceHandle::operator=(DeviceHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::move(other.fd_);
    }
    return *this;
}

DeviceHandle::~DeviceHandle() {
    Close();
}

void DeviceHandle::Close() {
    if (!fd_.Valid()) return;
    // Like CloseHandle, return only once the driver has let go of what the handle held: the
    // device ends its side of the connection after its close has run. A device that does not
    // answer in time is left to finish on its own.
    shutdown(fd_.Get(), SHUT_WR);
    const wire::Deadline deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseWaitMs);
    while (wire::WaitReadyBy(fd_.Get(), POLLIN, deadline) == wire::Transfer::Done) {
        char discard[64];
        const ssize_t n = recv(fd_.Get(), discard, sizeof discard, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    fd_.Reset();
}

DeviceHandle OpenDevice(const std::string& path) {
    DeviceHandle handle;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        SetLastError(kErrorFileNotFound);
        return handle;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    handle.fd_.Reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!handle.fd_.Valid()) {
        SetLastError(kErrorNoSystemResources);
        return handle;
    }
    const int fd = handle.fd_.Get();
    const wire::Deadline deadline = DeadlineFromNow();
    // A device that accepts no one keeps its queue of connections full, and connect waits for
    // room in it as long as the send time-out allows.
    const timeval connectWait{kDeviceTimeoutMs / 1000, (kDeviceTimeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &connectWait, sizeof connectWait);
    int connected;
    do {
        connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (connected != 0 && errno == EINTR);
    if (connected != 0) {
        SetLastError(errno == EACCES || errno == EPERM ? kErrorAccessDenied
                     : errno == EAGAIN                 ? kErrorSemTimeout
                                                       : kErrorFileNotFound);
        handle.Abandon();
        return handle;
    }
    std::uint32_t status = 0;
    wire::Transfer transfer = SendHello(fd, deadline);
    if (transfer == wire::Transfer::Done) {
        transfer = wire::ReceiveAllBy(fd, &status, sizeof status, deadline);
    }
    if (transfer != wire::Transfer::Done) {
        SetLastError(ErrorFrom(transfer));
        handle.Abandon();
        return handle;
    }
    if (status != STATUS_SUCCESS) {
        SetLastError(ErrorFromStatus(status));
        handle.Close();
        return handle;
    }
    SetLastError(kErrorSuccess);
    return handle;
}

bool DeviceIoControl(DeviceHandle& handle, std::uint32_t code, const void* input,
                     std::uint32_t inputLength, void* output, std::uint32_t outputLength,
                     std::uint32_t* bytesReturned) {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    if (!handle.Valid()) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (input == nullptr) inputLength = 0;
    if (output == nullptr) outputLength = 0;
    if (inputLength > wire::kMaxBufferLength || outputLength > wire::kMaxBufferLength) {
        SetLastError(kErrorInvalidUserBuffer);
        return false;
    }
    const wire::RequestHeader request{code, inputLength, outputLength};
    wire::ReplyHeader reply{};
    // Header and input in one write, so that the device wakes once per request.
    thread_local std::vector<char> message;
    message.resize(sizeof request + inputLength);
    std::memcpy(message.data(), &request, sizeof request);
    if (inputLength != 0) std::memcpy(message.data() + sizeof request, input, inputLength);
    const int fd = handle.fd_.Get();
    const wire::Deadline deadline = DeadlineFromNow();
    wire::Transfer transfer = wire::SendAllBy(fd, message.data(), message.size(), deadline);
    if (transfer == wire::Transfer::Done) {
        transfer = wire::ReceiveAllSoonBy(fd, &reply, sizeof reply, deadline);
    }
    if (transfer == wire::Transfer::Done && reply.returned > outputLength) {
        transfer = wire::Transfer::Broken;
    }
    if (transfer == wire::Transfer::Done) {
        transfer = wire::ReceiveAllBy(fd, output, reply.returned, deadline);
    }
    if (transfer != wire::Transfer::Done) {
        // The device went away, spoke out of turn or stopped answering: this handle is
        // finished. A late reply must never pass for the answer to a later request, and a
        // device that does not answer is not waited for a second time at the close.
        if (transfer == wire::Transfer::TimedOut) {
            handle.Abandon();
        } else {
            handle.Close();
        }
        SetLastError(ErrorFrom(transfer));
        return false;
    }
    if (bytesReturned != nullptr) *bytesReturned = reply.returned;
    SetLastError(ErrorFromStatus(reply.status));
    return reply.status == STATUS_SUCCESS || (reply.status >> 30) == 1;
}

}  // namespace fv
