// The kernel's copy of one adapter's decision: the BPF program on an interface's traffic-control
// hooks and its maps. The driver stays the one source of truth; this is how its state is put
// into the kernel, and how the kernel's counts and records come back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fv_contract/PacketEventRecord.h"
#include "fv_contract/RangeImage.h"
#include "fv_drv/ndis/bpf/KernelShared.h"
#include "fv_platform/UniqueFd.h"

struct ring_buffer;

namespace ndis::bpf_media {

// The driver's counters as the kernel holds them, since the last reset.
struct KernelCounts {
    std::uint32_t sent = 0;
    std::uint32_t sentBlocked = 0;
    std::uint32_t received = 0;
    std::uint32_t receivedBlocked = 0;
    std::uint64_t lostRecords = 0;  // never reset
};

// What a restarted daemon finds: the state a crashed one left in the kernel.
struct KernelSwitches {
    bool filtering = false;
    bool reportBlocked = false;  // as the program asked, whether or not anyone listens
    bool reportGranted = false;
};

class KernelFilter {
public:
    KernelFilter();
    ~KernelFilter();
    KernelFilter(const KernelFilter&) = delete;
    KernelFilter& operator=(const KernelFilter&) = delete;

    // A fresh program and maps: no table, filtering off, counters zero.
    bool Load(std::string& error);
    // A copy of a descriptor an earlier run kept under `role` (see EachFd), or -1.
    using StoredFd = std::function<int(const char* role)>;
    // The program and maps of filters already on `ifindex`'s hooks, from `stored` when it
    // holds them, else opened by id (which takes CAP_SYS_ADMIN); false when there are none of
    // ours (`error` empty) or they cannot be taken over.
    bool Adopt(int ifindex, const StoredFd& stored, std::string& error);
    // Each descriptor a later run needs to adopt the filters, with its role.
    void EachFd(const std::function<void(const char* role, int fd)>& visit) const;
    // The table in force, as far as this object made or adopted it; -1 for none. A later run
    // needs it too: without CAP_SYS_ADMIN it cannot open the table by id. `stored` is asked
    // for it under each of kTableRoles.
    int TableFd() const { return table_.Get(); }
    static constexpr const char* kTableRoles[2] = {"table0", "table1"};
    bool Loaded() const { return ingress_.Valid(); }

    // Puts the program on both hooks of `ifindex`, making the clsact qdisc if there is none.
    bool Attach(int ifindex, std::string& error);
    // Takes our filters off the interface, and the qdisc if we made it. Safe to repeat.
    void Detach();
    // Removes whatever filters of ours are on `ifindex` (a crashed daemon's): true when some were.
    static bool DetachLeftovers(int ifindex, std::string& error);

    // Builds the new table beside the one in force and swaps it in with one update; none
    // removes the table. False (and the old table stays) when the kernel refuses.
    bool SetTable(const RangeTable* table, std::string& error);
    // The table in force as a driver image, or an empty vector when there is none.
    bool ReadTable(std::vector<std::uint8_t>& image, std::string& error) const;
    // `reportBlocked`/`reportGranted`: what the driver asked; `blockedHeard`/`grantedHeard`:
    // whether the driver has an event to signal, without which it keeps no record.
    bool SetSwitches(bool filtering, bool reportBlocked, bool blockedHeard, bool reportGranted,
                     bool grantedHeard);
    KernelSwitches Switches() const;
    KernelCounts Counts() const;
    void ResetCounts();

    // Hands each record waiting in the kernel to `take` (`blocked` says which ring); returns
    // how many. `wait_ms` -1 waits for the first.
    using RecordSink = std::function<void(const PacketEventRecord& record, bool blocked)>;
    int TakeRecords(const RecordSink& take, int waitMs);
    int RecordFd() const;

    int IngressFd() const { return ingress_.Get(); }
    int EgressFd() const { return egress_.Get(); }
    int TableMapFd() const { return tables_.Get(); }

private:
    struct DaemonState;
    bool ReadDaemonState(DaemonState& out) const;
    bool WriteDaemonState(const DaemonState& in);
    bool OpenRecords(std::string& error);
    bool AdoptStored(std::uint32_t ingressId, std::uint32_t egressId, const StoredFd& stored);
    bool AdoptById(std::uint32_t ingressId, std::uint32_t egressId, std::string& error);
    static int Deliver(void* context, void* data, std::size_t size);

    fv::UniqueFd ingress_;
    fv::UniqueFd egress_;
    fv::UniqueFd tables_;
    fv::UniqueFd switches_;
    fv::UniqueFd counters_;
    fv::UniqueFd keep_;
    fv::UniqueFd records_;
    fv::UniqueFd table_;
    ring_buffer* ring_ = nullptr;
    const RecordSink* sink_ = nullptr;
    int ifindex_ = 0;
    bool attached_ = false;
};

// Handle and priority that mark our filters on a hook; first on the hook, so that nothing
// before them can let a listed packet through.
inline constexpr std::uint32_t kFilterHandle = 0xfe11;
inline constexpr std::uint32_t kFilterPriority = 1;

}  // namespace ndis::bpf_media
