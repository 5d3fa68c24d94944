// Requests on the adapter a handle is bound to. Each runs under the adapter lock, so the packet
// decisions see the filter state before or after it, never halfway; the range upload prepares
// its table and rings before it takes the lock.
#include <cstring>
#include <limits>

#include "fv_contract/ControlCodes.h"
#include "fv_drv/Driver/ControlRequests.h"
#include "fv_drv/Driver/FilterMirror.h"

namespace {

// Shorter uploads carry no table and remove the one in force.
constexpr ULONG kSmallestTableUpload = 12;

void Write(ControlIo& io, const void* data, ULONG size) {
    std::memcpy(io.Buffer, data, size);
    io.Information = size;
}

NTSTATUS GetStats(const FilterState& f, ControlIo& io) {
    if (io.OutputLength < kStatsSize) {
        io.Information = kStatsSize;
        return STATUS_BUFFER_TOO_SMALL;
    }
    const std::uint32_t counters[] = {f.SentCount,      f.SentBlockedCount, f.Reserved1Count,
                                      f.Reserved2Count, f.ReceivedCount,    f.ReceivedBlockedCount};
    static_assert(sizeof counters == kStatsSize);
    Write(io, counters, kStatsSize);
    return STATUS_SUCCESS;
}

void ResetStats(FilterState& f) {
    f.SentCount = f.SentBlockedCount = f.Reserved1Count = f.Reserved2Count = 0;
    f.ReceivedCount = f.ReceivedBlockedCount = 0;
}

void FreeTable(RangeTable* table) {
    if (table != nullptr) NdisFreeMemory(table, UINT(RangeTableImageSize(table->count)), 0);
}

// A range upload, checked, copied and given fresh ring storage before the adapter lock is taken,
// so that packets never wait behind a copy of up to 64 MiB; under the lock it is only swapped in.
struct Upload {
    NTSTATUS status = STATUS_NOT_SUPPORTED;  // no table in the upload: the old one goes anyway
    bool install = true;                     // false: nothing changes
    RangeTable* table = nullptr;
    PacketEventRecord* blockedStorage = nullptr;
    PacketEventRecord* grantedStorage = nullptr;
    bool renewRings = false;
};

Upload PrepareUpload(const ControlIo& io) {
    Upload u;
    if (io.InputLength < kSmallestTableUpload) return u;
    std::uint32_t count;
    std::memcpy(&count, io.Buffer, sizeof count);
    // 64-bit arithmetic: a count near 2^32 cannot wrap into a small size.
    const std::uint64_t needed = RangeTableImageSize(count);
    if (needed > std::numeric_limits<std::uint32_t>::max() || io.InputLength < needed) {
        u.status = STATUS_INVALID_PARAMETER;
        u.install = false;
        return u;
    }
    PVOID memory = nullptr;
    if (NdisAllocateMemoryWithTag(&memory, UINT(needed), kDriverPoolTag) != NDIS_STATUS_SUCCESS) {
        // A table that cannot be stored must not leave the adapter open: the old one stays.
        u.status = STATUS_INSUFFICIENT_RESOURCES;
        u.install = false;
        return u;
    }
    // Only the image: bytes past it belong to no table.
    std::memcpy(memory, io.Buffer, size_t(needed));
    u.table = static_cast<RangeTable*>(memory);
    u.blockedStorage = EventRingAllocateStorage();
    u.grantedStorage = EventRingAllocateStorage();
    u.renewRings = true;
    u.status = STATUS_SUCCESS;
    return u;
}

// Under the adapter lock. Afterwards `u` holds what was replaced (or what was never installed).
void InstallUpload(FilterState& f, Upload& u) {
    if (!u.install) return;
    u.table = FilterStateSetRanges(f, u.table);
    if (u.renewRings) {
        u.blockedStorage = EventRingSwapStorage(f.BlockedRing, u.blockedStorage);
        u.grantedStorage = EventRingSwapStorage(f.GrantedRing, u.grantedStorage);
    }
}

void FreeUpload(Upload& u) {
    FreeTable(u.table);
    EventRingFreeStorage(u.blockedStorage);
    EventRingFreeStorage(u.grantedStorage);
}

NTSTATUS SetRanges(AdapterBinding* b, ControlIo& io) {
    Upload u = PrepareUpload(io);
    NdisAcquireSpinLock(&b->Lock);
    const bool refused = UnbindingOrStandingBy(*b);
    // A mirrored adapter's packets never wait for this lock, so its copy is made under it:
    // the driver and the kernel change tables together, or neither does.
    if (!refused && u.install && b->Filter.Mirror != nullptr && !b->Filter.Mirror->PutTable(u.table)) {
        u.install = false;
        u.status = STATUS_INSUFFICIENT_RESOURCES;
    }
    if (!refused) InstallUpload(b->Filter, u);
    NdisReleaseSpinLock(&b->Lock);
    FreeUpload(u);
    return refused ? STATUS_INVALID_DEVICE_STATE : u.status;
}

void StartFilter(FilterState& f) {
    f.ReportBlocked = 0;
    f.ReportGranted = 0;
    EventRingReset(f.BlockedRing);
    EventRingReset(f.GrantedRing);
    AttachFilterEvents(f);
    f.FilteringEnabled = 1;
}

void StopFilter(FilterState& f) {
    f.FilteringEnabled = 0;
    if (f.ExitEvent != nullptr) KeSetEvent(f.ExitEvent, IO_NO_INCREMENT, FALSE);
    DetachFilterEvents(f);
}

NTSTATUS TakeRecord(EventRing& ring, ControlIo& io) {
    if (io.OutputLength < sizeof(PacketEventRecord)) return STATUS_BUFFER_TOO_SMALL;
    PacketEventRecord record;
    const NTSTATUS status = EventRingTake(ring, &record);
    if (status == STATUS_SUCCESS) Write(io, &record, sizeof record);
    return status;
}

NTSTATUS PendingCount(EventRing& ring, ControlIo& io) {
    const std::uint32_t count = EventRingPending(ring);
    if (io.OutputLength < sizeof count) {
        io.Information = sizeof count;
        return STATUS_BUFFER_TOO_SMALL;
    }
    Write(io, &count, sizeof count);
    return STATUS_SUCCESS;
}

NTSTATUS SetReport(std::uint8_t* flag, const ControlIo& io) {
    if (io.InputLength < 1) return STATUS_INVALID_PARAMETER;
    *flag = io.Buffer[0] != 0 ? 1 : 0;
    return STATUS_SUCCESS;
}

NTSTATUS Serve(FilterState& f, ULONG code, ControlIo& io) {
    switch (code) {
        case IOCTL_GET_STATS:
            return GetStats(f, io);
        case IOCTL_RESET_STATS:
            ResetStats(f);
            return STATUS_SUCCESS;
        case IOCTL_START_FILTER:
            StartFilter(f);
            return STATUS_SUCCESS;
        case IOCTL_STOP_FILTER:
            StopFilter(f);
            return STATUS_SUCCESS;
        case IOCTL_GET_BLOCKED_RECORD:
            return TakeRecord(f.BlockedRing, io);
        case IOCTL_GET_GRANTED_RECORD:
            return TakeRecord(f.GrantedRing, io);
        case IOCTL_GET_BLOCKED_COUNT:
            return PendingCount(f.BlockedRing, io);
        case IOCTL_GET_GRANTED_COUNT:
            return PendingCount(f.GrantedRing, io);
        case IOCTL_SET_REPORT_BLOCKED:
            return SetReport(&f.ReportBlocked, io);
        case IOCTL_SET_REPORT_GRANTED:
            return SetReport(&f.ReportGranted, io);
        default:
            return STATUS_NOT_SUPPORTED;
    }
}

NTSTATUS UnderLock(FilterState& f, ULONG code, ControlIo& io) {
    if (f.Mirror == nullptr) return Serve(f, code, io);
    if (code == IOCTL_GET_STATS) f.Mirror->GetCounts(f);
    const NTSTATUS status = Serve(f, code, io);
    switch (code) {
        case IOCTL_RESET_STATS:
            f.Mirror->ResetCounts();
            break;
        case IOCTL_START_FILTER:
        case IOCTL_STOP_FILTER:
        case IOCTL_SET_REPORT_BLOCKED:
        case IOCTL_SET_REPORT_GRANTED:
            f.Mirror->PutSwitches(f);
            break;
        default:
            break;
    }
    return status;
}

}  // namespace

bool IsAdapterRequest(ULONG code) {
    switch (code) {
        case IOCTL_GET_STATS:
        case IOCTL_RESET_STATS:
        case IOCTL_SET_RANGES:
        case IOCTL_START_FILTER:
        case IOCTL_STOP_FILTER:
        case IOCTL_GET_BLOCKED_RECORD:
        case IOCTL_GET_GRANTED_RECORD:
        case IOCTL_GET_BLOCKED_COUNT:
        case IOCTL_GET_GRANTED_COUNT:
        case IOCTL_SET_REPORT_BLOCKED:
        case IOCTL_SET_REPORT_GRANTED:
            return true;
        default:
            return false;
    }
}

NTSTATUS AdapterRequest(AdapterBinding* b, ULONG code, ControlIo& io) {
    if (code == IOCTL_SET_RANGES) return SetRanges(b, io);
    NdisAcquireSpinLock(&b->Lock);
    NTSTATUS status = STATUS_INVALID_DEVICE_STATE;
    if (!UnbindingOrStandingBy(*b)) status = UnderLock(b->Filter, code, io);
    NdisReleaseSpinLock(&b->Lock);
    return status;
}
