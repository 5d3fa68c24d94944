#include "fv_drv/ndis/bpf/KernelFilter.h"

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <fcntl.h>
#include <linux/pkt_cls.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fv_drv/ndis/bpf/TcFilters.h"
#include "fv_drv/ndis/bpf/fv_filter.skel.h"

namespace ndis::bpf_media {
namespace {

constexpr std::uint32_t kSlot = 0;
constexpr const char* kIngressName = "fv_ingress";
constexpr const char* kEgressName = "fv_egress";
constexpr const char* kTableMapName = "fv_table";

// libbpf's warnings say why the kernel refused a program or map; its other chatter, and its
// complaint when a hook looked for has no qdisc yet, are not worth a line.
std::atomic<int> g_quiet{0};
int Print(libbpf_print_level level, const char* format, va_list arguments) {
    if (level != LIBBPF_WARN || g_quiet.load() != 0) return 0;
    return std::vfprintf(stderr, format, arguments);
}
struct QuietLibbpf {
    QuietLibbpf() { ++g_quiet; }
    ~QuietLibbpf() { --g_quiet; }
};
void SetPrintOnce() {
    static const bool set = [] {
        libbpf_set_print(Print);
        return true;
    }();
    (void)set;
}

std::string Failure(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error < 0 ? -error : error);
}

int Duplicate(int fd) {
    return fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

bpf_tc_hook Hook(int ifindex, bpf_tc_attach_point point) {
    bpf_tc_hook hook{};
    hook.sz = sizeof hook;
    hook.ifindex = ifindex;
    hook.attach_point = point;
    return hook;
}

bpf_tc_opts OursOn() {
    bpf_tc_opts opts{};
    opts.sz = sizeof opts;
    opts.handle = kFilterHandle;
    opts.priority = kFilterPriority;
    return opts;
}

// The id of our program on one hook, or 0.
std::uint32_t QueryHook(int ifindex, bpf_tc_attach_point point) {
    SetPrintOnce();
    const QuietLibbpf quiet;
    bpf_tc_hook hook = Hook(ifindex, point);
    bpf_tc_opts opts = OursOn();
    return bpf_tc_query(&hook, &opts) == 0 ? opts.prog_id : 0;
}

std::size_t MappedSize(std::size_t bytes) {
    const auto page = std::size_t(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

}  // namespace

struct KernelFilter::DaemonState : fv_keep {};

KernelFilter::KernelFilter() = default;

KernelFilter::~KernelFilter() {
    if (ring_ != nullptr) ring_buffer__free(ring_);
}

bool KernelFilter::Load(std::string& error) {
    SetPrintOnce();
    fv_filter* skeleton = fv_filter__open_and_load();
    if (skeleton == nullptr) {
        error = Failure("cannot load the kernel filter", errno);
        return false;
    }
    // Our own descriptors keep program and maps alive; the skeleton's go with it.
    ingress_.Reset(Duplicate(bpf_program__fd(skeleton->progs.fv_ingress)));
    egress_.Reset(Duplicate(bpf_program__fd(skeleton->progs.fv_egress)));
    tables_.Reset(Duplicate(bpf_map__fd(skeleton->maps.tables)));
    switches_.Reset(Duplicate(bpf_map__fd(skeleton->maps.switches)));
    counters_.Reset(Duplicate(bpf_map__fd(skeleton->maps.counters)));
    keep_.Reset(Duplicate(bpf_map__fd(skeleton->maps.keep)));
    records_.Reset(Duplicate(bpf_map__fd(skeleton->maps.records)));
    fv_filter__destroy(skeleton);
    if (!ingress_ || !egress_ || !tables_ || !switches_ || !counters_ || !keep_ || !records_) {
        error = Failure("cannot keep the kernel filter", errno);
        ingress_.Reset();
        return false;
    }
    return OpenRecords(error);
}

bool KernelFilter::OpenRecords(std::string& error) {
    ring_ = ring_buffer__new(records_.Get(), &KernelFilter::Deliver, this, nullptr);
    if (ring_ == nullptr) {
        error = Failure("cannot read the kernel's records", errno);
        ingress_.Reset();
        return false;
    }
    return true;
}

bool KernelFilter::Adopt(int ifindex, const StoredFd& stored, std::string& error) {
    error.clear();
    const std::uint32_t ingressId = QueryHook(ifindex, BPF_TC_INGRESS);
    const std::uint32_t egressId = QueryHook(ifindex, BPF_TC_EGRESS);
    if (ingressId == 0 && egressId == 0) return false;
    if (ingressId == 0 || egressId == 0) {
        error = "only one hook holds our filter";
        return false;
    }
    if (!AdoptStored(ingressId, egressId, stored) && !AdoptById(ingressId, egressId, error)) {
        return false;
    }
    if (!OpenRecords(error)) return false;
    ifindex_ = ifindex;
    attached_ = true;
    return true;
}

namespace {

std::uint32_t ProgramId(int fd) {
    bpf_prog_info info{};
    std::uint32_t length = sizeof info;
    return fd >= 0 && bpf_obj_get_info_by_fd(fd, &info, &length) == 0 ? info.id : 0;
}

std::uint32_t MapId(int fd) {
    bpf_map_info info{};
    std::uint32_t length = sizeof info;
    return fd >= 0 && bpf_obj_get_info_by_fd(fd, &info, &length) == 0 ? info.id : 0;
}

// The id of the table map in force, or 0 for none.
std::uint32_t TableInForce(int tables) {
    std::uint32_t id = 0;
    return bpf_map_lookup_elem(tables, &kSlot, &id) == 0 ? id : 0;
}

}  // namespace

void KernelFilter::EachFd(const std::function<void(const char* role, int fd)>& visit) const {
    visit("ingress", ingress_.Get());
    visit("egress", egress_.Get());
    visit("tables", tables_.Get());
    visit("switches", switches_.Get());
    visit("counters", counters_.Get());
    visit("keep", keep_.Get());
    visit("records", records_.Get());
}

bool KernelFilter::AdoptStored(std::uint32_t ingressId, std::uint32_t egressId,
                               const StoredFd& stored) {
    if (!stored) return false;
    fv::UniqueFd ingress(stored("ingress"));
    fv::UniqueFd egress(stored("egress"));
    // Kept for filters that are no longer there (removed by hand, or replaced): not these.
    if (ProgramId(ingress.Get()) != ingressId || ProgramId(egress.Get()) != egressId) return false;
    fv::UniqueFd maps[5] = {fv::UniqueFd(stored("tables")), fv::UniqueFd(stored("switches")),
                            fv::UniqueFd(stored("counters")), fv::UniqueFd(stored("keep")),
                            fv::UniqueFd(stored("records"))};
    for (const fv::UniqueFd& m : maps) {
        if (!m) return false;
    }
    ingress_ = std::move(ingress);
    egress_ = std::move(egress);
    tables_ = std::move(maps[0]);
    switches_ = std::move(maps[1]);
    counters_ = std::move(maps[2]);
    keep_ = std::move(maps[3]);
    records_ = std::move(maps[4]);
    const std::uint32_t inForce = TableInForce(tables_.Get());
    for (const char* role : kTableRoles) {
        fv::UniqueFd table(stored(role));
        if (inForce != 0 && MapId(table.Get()) == inForce) table_ = std::move(table);
    }
    return true;
}

bool KernelFilter::AdoptById(std::uint32_t ingressId, std::uint32_t egressId, std::string& error) {
    fv::UniqueFd ingress(bpf_prog_get_fd_by_id(ingressId));
    fv::UniqueFd egress(bpf_prog_get_fd_by_id(egressId));
    if (!ingress || !egress) {
        error = Failure("cannot open the filters' programs", errno);
        return false;
    }
    bpf_prog_info info{};
    std::uint32_t mapIds[8] = {};
    info.nr_map_ids = sizeof mapIds / sizeof mapIds[0];
    info.map_ids = reinterpret_cast<std::uintptr_t>(mapIds);
    std::uint32_t length = sizeof info;
    if (bpf_obj_get_info_by_fd(ingress.Get(), &info, &length) != 0) {
        error = Failure("cannot read the filter's program", errno);
        return false;
    }
    bpf_prog_info egressInfo{};
    length = sizeof egressInfo;
    if (std::strcmp(info.name, kIngressName) != 0 ||
        bpf_obj_get_info_by_fd(egress.Get(), &egressInfo, &length) != 0 ||
        std::strcmp(egressInfo.name, kEgressName) != 0) {
        error = "the filters on the hooks are not ours";
        return false;
    }
    for (std::uint32_t i = 0; i < info.nr_map_ids && i < sizeof mapIds / sizeof mapIds[0]; ++i) {
        fv::UniqueFd map(bpf_map_get_fd_by_id(mapIds[i]));
        bpf_map_info mapInfo{};
        length = sizeof mapInfo;
        if (!map || bpf_obj_get_info_by_fd(map.Get(), &mapInfo, &length) != 0) continue;
        const std::string name = mapInfo.name;
        if (name == "tables") tables_ = std::move(map);
        if (name == "switches") switches_ = std::move(map);
        if (name == "counters") counters_ = std::move(map);
        if (name == "keep") keep_ = std::move(map);
        if (name == "records") records_ = std::move(map);
    }
    if (!tables_ || !switches_ || !counters_ || !keep_ || !records_) {
        error = "the filter's maps cannot all be opened";
        return false;
    }
    ingress_ = std::move(ingress);
    egress_ = std::move(egress);
    return true;
}

bool KernelFilter::Attach(int ifindex, std::string& error) {
    bpf_tc_hook both = Hook(ifindex, bpf_tc_attach_point(BPF_TC_INGRESS | BPF_TC_EGRESS));
    SetPrintOnce();
    int made;
    {
        const QuietLibbpf quiet;  // an existing qdisc is no fault
        made = bpf_tc_hook_create(&both);
    }
    if (made != 0 && made != -EEXIST) {
        error = Failure("cannot make the clsact qdisc", made);
        return false;
    }
    DaemonState state{};
    ReadDaemonState(state);
    state.owns_hook = made == 0 ? 1 : 0;
    WriteDaemonState(state);
    ifindex_ = ifindex;
    attached_ = true;
    for (const auto& [point, fd] : {std::pair{BPF_TC_INGRESS, ingress_.Get()},
                                    std::pair{BPF_TC_EGRESS, egress_.Get()}}) {
        bpf_tc_hook hook = Hook(ifindex, point);
        bpf_tc_opts opts = OursOn();
        opts.prog_fd = fd;
        opts.flags = BPF_TC_F_REPLACE;
        if (const int rc = bpf_tc_attach(&hook, &opts); rc != 0) {
            error = Failure("cannot attach the kernel filter", rc);
            Detach();
            return false;
        }
    }
    return true;
}

void KernelFilter::Detach() {
    if (!attached_) return;
    attached_ = false;
    for (bpf_tc_attach_point point : {BPF_TC_INGRESS, BPF_TC_EGRESS}) {
        bpf_tc_hook hook = Hook(ifindex_, point);
        const bpf_tc_opts opts = OursOn();
        bpf_tc_detach(&hook, &opts);
    }
    DaemonState state{};
    if (ReadDaemonState(state) && state.owns_hook != 0 && !HooksCarryFilters(ifindex_)) {
        bpf_tc_hook both = Hook(ifindex_, bpf_tc_attach_point(BPF_TC_INGRESS | BPF_TC_EGRESS));
        bpf_tc_hook_destroy(&both);
    }
}

bool KernelFilter::DetachLeftovers(int ifindex, std::string& error) {
    KernelFilter left;
    if (!left.Adopt(ifindex, {}, error)) return false;
    left.Detach();
    return true;
}

bool KernelFilter::SetTable(const RangeTable* table, std::string& error) {
    if (table == nullptr) {
        if (bpf_map_delete_elem(tables_.Get(), &kSlot) != 0 && errno != ENOENT) {
            error = Failure("cannot remove the kernel's table", errno);
            return false;
        }
        table_.Reset();
        return true;
    }
    if (table->count > FV_MAX_RANGES) {
        error = "more than " + std::to_string(FV_MAX_RANGES) + " ranges";
        return false;
    }
    const std::uint32_t slots = table->count + 1;
    LIBBPF_OPTS(bpf_map_create_opts, options, .map_flags = BPF_F_INNER_MAP | BPF_F_MMAPABLE);
    fv::UniqueFd map(bpf_map_create(BPF_MAP_TYPE_ARRAY, kTableMapName, sizeof(std::uint32_t),
                                    sizeof(RangeEntry), slots, &options));
    if (!map) {
        error = Failure("cannot make a kernel table", errno);
        return false;
    }
    const std::size_t size = MappedSize(std::size_t(slots) * sizeof(RangeEntry));
    void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, map.Get(), 0);
    if (at == MAP_FAILED) {
        error = Failure("cannot fill a kernel table", errno);
        return false;
    }
    auto* entries = static_cast<RangeEntry*>(at);
    entries[0] = RangeEntry{table->count, 0};
    std::memcpy(entries + 1, table->Entries(), std::size_t(table->count) * sizeof(RangeEntry));
    munmap(at, size);
    const int fd = map.Get();
    if (bpf_map_update_elem(tables_.Get(), &kSlot, &fd, BPF_ANY) != 0) {
        error = Failure("cannot swap the kernel's table", errno);
        return false;
    }
    table_ = std::move(map);
    return true;
}

bool KernelFilter::ReadTable(std::vector<std::uint8_t>& image, std::string& error) const {
    image.clear();
    std::uint32_t id = 0;
    if (bpf_map_lookup_elem(tables_.Get(), &kSlot, &id) != 0) {
        if (errno == ENOENT) return true;
        error = Failure("cannot find the kernel's table", errno);
        return false;
    }
    // Ours when we made or were handed it; by id otherwise, which takes CAP_SYS_ADMIN.
    fv::UniqueFd map(MapId(table_.Get()) == id ? fcntl(table_.Get(), F_DUPFD_CLOEXEC, 0)
                                               : bpf_map_get_fd_by_id(id));
    bpf_map_info info{};
    std::uint32_t length = sizeof info;
    if (!map || bpf_obj_get_info_by_fd(map.Get(), &info, &length) != 0 || info.max_entries == 0) {
        error = Failure("cannot open the kernel's table", errno);
        return false;
    }
    const std::size_t size = MappedSize(std::size_t(info.max_entries) * sizeof(RangeEntry));
    void* at = mmap(nullptr, size, PROT_READ, MAP_SHARED, map.Get(), 0);
    if (at == MAP_FAILED) {
        error = Failure("cannot read the kernel's table", errno);
        return false;
    }
    const auto* entries = static_cast<const RangeEntry*>(at);
    const std::uint32_t count = entries[0].first;
    const bool fits = count < info.max_entries;
    if (fits) {
        image.assign(RangeTableImageSize(count), 0);
        std::memcpy(image.data(), &count, sizeof count);
        std::memcpy(image.data() + sizeof count, entries + 1, std::size_t(count) * sizeof(RangeEntry));
    }
    munmap(at, size);
    if (!fits) error = "the kernel's table is damaged";
    return fits;
}

bool KernelFilter::ReadDaemonState(DaemonState& out) const {
    return bpf_map_lookup_elem(keep_.Get(), &kSlot, &out) == 0;
}

bool KernelFilter::WriteDaemonState(const DaemonState& in) {
    return bpf_map_update_elem(keep_.Get(), &kSlot, &in, BPF_ANY) == 0;
}

bool KernelFilter::SetSwitches(bool filtering, bool reportBlocked, bool blockedHeard,
                               bool reportGranted, bool grantedHeard) {
    DaemonState state{};
    ReadDaemonState(state);
    state.report_blocked = reportBlocked ? 1 : 0;
    state.report_granted = reportGranted ? 1 : 0;
    const fv_switches switches{filtering ? 1u : 0u, reportBlocked && blockedHeard ? 1u : 0u,
                               reportGranted && grantedHeard ? 1u : 0u, 0};
    return WriteDaemonState(state) &&
           bpf_map_update_elem(switches_.Get(), &kSlot, &switches, BPF_ANY) == 0;
}

KernelSwitches KernelFilter::Switches() const {
    fv_switches switches{};
    DaemonState state{};
    bpf_map_lookup_elem(switches_.Get(), &kSlot, &switches);
    ReadDaemonState(state);
    return {switches.filtering != 0, state.report_blocked != 0, state.report_granted != 0};
}

namespace {

// Every CPU's share added up.
fv_counters SumCounters(int fd) {
    fv_counters sum{};
    const int cpus = libbpf_num_possible_cpus();
    if (cpus <= 0) return sum;
    std::vector<fv_counters> shares(std::size_t(cpus), fv_counters{});
    if (bpf_map_lookup_elem(fd, &kSlot, shares.data()) != 0) return sum;
    for (const fv_counters& c : shares) {
        sum.sent += c.sent;
        sum.sent_blocked += c.sent_blocked;
        sum.received += c.received;
        sum.received_blocked += c.received_blocked;
        sum.lost_records += c.lost_records;
    }
    return sum;
}

}  // namespace

KernelCounts KernelFilter::Counts() const {
    static_assert(sizeof(fv_counters) % 8 == 0, "per-CPU values are laid out 8-byte aligned");
    const fv_counters sum = SumCounters(counters_.Get());
    DaemonState base{};
    ReadDaemonState(base);
    // The driver's counters are 32 bits wide and wrap.
    return {std::uint32_t(sum.sent - base.sent), std::uint32_t(sum.sent_blocked - base.sent_blocked),
            std::uint32_t(sum.received - base.received),
            std::uint32_t(sum.received_blocked - base.received_blocked), sum.lost_records};
}

void KernelFilter::ResetCounts() {
    const fv_counters sum = SumCounters(counters_.Get());
    DaemonState state{};
    ReadDaemonState(state);
    state.sent = sum.sent;
    state.sent_blocked = sum.sent_blocked;
    state.received = sum.received;
    state.received_blocked = sum.received_blocked;
    WriteDaemonState(state);
}

int KernelFilter::Deliver(void* context, void* data, std::size_t size) {
    auto* self = static_cast<KernelFilter*>(context);
    if (size < sizeof(PacketEventRecord) || self->sink_ == nullptr) return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    PacketEventRecord record{};
    // The spare bytes leave empty, as the driver's rings keep them.
    std::memcpy(&record, bytes, FV_RECORD_KIND_OFFSET);
    (*self->sink_)(record, bytes[FV_RECORD_KIND_OFFSET] == FV_RECORD_BLOCKED);
    return 0;
}

int KernelFilter::TakeRecords(const RecordSink& take, int waitMs) {
    if (ring_ == nullptr) return 0;
    sink_ = &take;
    const int taken = waitMs == 0 ? ring_buffer__consume(ring_) : ring_buffer__poll(ring_, waitMs);
    sink_ = nullptr;
    return taken;
}

int KernelFilter::RecordFd() const {
    return ring_ == nullptr ? -1 : ring_buffer__epoll_fd(ring_);
}

}  // namespace ndis::bpf_media
