// The control device's socket: accepts connections (one connection is one handle), checks the
// peer, receives the opener's named events and serves its requests one at a time, in order.
// Connections run concurrently, each on its own thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fv_contract/Wire.h"
#include "fv_drv/host/ByteBudget.h"
#include "fv_platform/UniqueFd.h"

namespace fv::host {

// A named event handed over by the opener, with its descriptor: whoever holds it owns it.
struct NamedEventFd {
    std::string name;
    fv::UniqueFd fd;
};

// One open handle of the control device. Destroying it is the handle's cleanup and close.
class ControlHandle {
public:
    virtual ~ControlHandle() = default;
    // `systemBuffer` holds max(input, output) bytes, the input copied in. Returns the status and
    // sets `information`, the byte count for the caller.
    virtual std::uint32_t DeviceControl(std::uint32_t code, std::uint8_t* systemBuffer,
                                        std::uint32_t inputLength, std::uint32_t outputLength,
                                        std::uint32_t* information) = 0;
};

class ControlDevice {
public:
    virtual ~ControlDevice() = default;
    // Create: a new handle that owns the opener's events. Returns the status; on success
    // `handle` is set.
    virtual std::uint32_t Create(std::vector<NamedEventFd> events,
                                 std::unique_ptr<ControlHandle>& handle) = 0;
    // The same for the process `peer` (as the kernel recorded it at connect).
    virtual std::uint32_t CreateFor(pid_t /*peer*/, std::vector<NamedEventFd> events,
                                    std::unique_ptr<ControlHandle>& handle) {
        return Create(std::move(events), handle);
    }
    // Whether handles look events of this name up. The descriptors of the others are closed at
    // the hello, so that an opener cannot make the device hold descriptors nobody uses.
    virtual bool UsesEvent(const std::string& name) const {
        (void)name;
        return true;
    }
};

// Who may open the device: root, the daemon's own user and members of the device group.
struct PeerPolicy {
    uid_t ownUid = 0;
    gid_t deviceGid = gid_t(-1);  // none
};
// `gid` and `groups` are the peer's primary and supplementary groups as they were when it
// connected.
bool PeerAllowed(const PeerPolicy& policy, uid_t uid, gid_t gid, const std::vector<gid_t>& groups);

// What peers may take. Root and the daemon's own user have a cap of their own, so that members
// of the device group cannot lock them out; the members share theirs, each user at most
// `connectionsPerUser` of it. A connection that has not finished its opening message in time
// is dropped, and so is one whose request, once begun, does not arrive whole in time (an idle
// connection between requests stays). Requests larger than `smallRequestBytes` wait their turn
// for `bytesInFlight`, up to `budgetWait`; one that cannot have it in time is answered with a
// failure.
struct PeerLimits {
    std::size_t maxConnections = 64;
    std::chrono::milliseconds helloTimeout{5000};
    std::size_t connectionsPerUser = 16;
    std::chrono::milliseconds requestTimeout{5000};
    std::size_t smallRequestBytes = 64u << 10;
    std::size_t bytesInFlight = fv::wire::kMaxBufferLength;  // one upload of the largest size
    // A turn behind the uploads of a few other users, each bounded by `requestTimeout`.
    std::chrono::milliseconds budgetWait{15000};
};

// Descriptors the server may hold at once under these limits (every connection in the middle
// of a hello carrying the most events), with a reserve for the rest of the daemon and the
// programs it starts.
std::size_t DescriptorsNeeded(const PeerLimits& limits);

class ControlServer {
public:
    ControlServer(ControlDevice& device, PeerPolicy policy, PeerLimits limits = {});
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Creates the socket at `path` (mode 0660, group `policy.deviceGid` when set) and starts
    // accepting. False if the socket cannot be made; errno tells why.
    bool Start(const std::string& path);
    // Stops accepting, ends every connection (closing its handle), removes the socket.
    void Stop();
    std::size_t ConnectionCount();
    // Bytes held by large requests being served.
    std::size_t BytesInFlight() { return budget_.InUse(); }

private:
    struct Connection;
    void AcceptLoop();
    void Serve(Connection& connection);
    void ReapFinished();
    // False when the process is out of descriptors: the listener then rests a while.
    bool AcceptOne();
    // Whether a peer of `uid` may have another connection (server lock held).
    bool MayConnect(uid_t uid, bool privileged) const;
    // Drops the connections whose hello is overdue; returns the poll time-out until the next.
    int DropSilentPeers();

    ControlDevice& device_;
    PeerPolicy policy_;
    PeerLimits limits_;
    std::string path_;
    fv::UniqueFd listenFd_;
    fv::UniqueFd stopFd_;
    std::thread acceptThread_;
    std::size_t refused_ = 0;  // connections refused since the last report
    std::chrono::steady_clock::time_point nextRefusalReport_{};
    std::mutex lock_;
    std::list<std::unique_ptr<Connection>> connections_;
    ByteBudget budget_;
};

}  // namespace fv::host
