// Whatever a local peer writes to the control socket (a hello, requests, lengths that promise
// more than comes, garbage), the server never crashes and keeps serving the next connection.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "fv_drv/host/ControlServer.h"
#include "fv_platform/DeviceClient.h"
#include "fv_contract/Statuses.h"

namespace {

// Echoes its input reversed and claims any Information it is told to; fails unknown codes.
class EchoHandle final : public fv::host::ControlHandle {
public:
    explicit EchoHandle(std::vector<fv::host::NamedEventFd> events) : events_(std::move(events)) {}
    std::uint32_t DeviceControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t in,
                                std::uint32_t out, std::uint32_t* information) override {
        for (std::uint32_t i = 0; i < in / 2; ++i) std::swap(buffer[i], buffer[in - 1 - i]);
        *information = code % 2 == 0 ? in : out + code % 7;  // sometimes more than fits
        return code % 3 == 0 ? STATUS_INVALID_PARAMETER : 0;
    }

private:
    std::vector<fv::host::NamedEventFd> events_;
};

class EchoDevice final : public fv::host::ControlDevice {
public:
    std::uint32_t Create(std::vector<fv::host::NamedEventFd> events,
                         std::unique_ptr<fv::host::ControlHandle>& handle) override {
        handle = std::make_unique<EchoHandle>(std::move(events));
        return 0;
    }
};

struct Server {
    Server()
        : path((std::filesystem::temp_directory_path() / ("fvfuzz-" + std::to_string(getpid())))
                   .string()),
          server(device, fv::host::PeerPolicy{geteuid(), gid_t(-1)}) {
        if (!server.Start(path)) std::abort();
    }
    std::string path;
    EchoDevice device;
    fv::host::ControlServer server;
};

Server& TheServer() {
    static Server server;
    return server;
}

int Connect(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Server& s = TheServer();
    const int fd = Connect(s.path);
    // Half the inputs start with a valid hello so that the request loop is reached.
    if (size > 0 && data[0] % 2 == 0) {
        const std::uint32_t hello[2] = {0x5046564F, 0};
        send(fd, hello, sizeof hello, MSG_NOSIGNAL);
        ++data;
        --size;
    }
    send(fd, data, size, MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    char reply[4096];
    while (recv(fd, reply, sizeof reply, 0) > 0) {
    }
    close(fd);

    // The server still serves a well-formed client.
    fv::DeviceHandle h = fv::OpenDevice(s.path);
    char in[4] = {'a', 'b', 'c', 'd'};
    char out[4] = {};
    std::uint32_t got = 0;
    if (!h.Valid() || !fv::DeviceIoControl(h, 2, in, 4, out, 4, &got) || got != 4 ||
        std::memcmp(out, "dcba", 4) != 0) {
        std::abort();
    }
    return 0;
}
