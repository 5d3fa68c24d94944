#include "fv_drv/host/KernelMirror.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fv_drv/Driver/EventRing.h"

namespace fv::host {

bool KernelMirror::Start(const std::u16string& lowerName, bool adopted, std::string& error) {
    binding_ = ReferenceBindingByLowerName(lowerName.data(), ULONG(lowerName.size() * sizeof(char16_t)));
    if (binding_ == nullptr) {
        error = "the driver did not bind " + name_;
        return false;
    }
    stopFd_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stopFd_) {
        error = std::string("eventfd: ") + std::strerror(errno);
        Stop();
        return false;
    }
    FilterState& f = binding_->Filter;
    if (adopted) {
        if (!Seed(f, error)) {
            Stop();
            return false;
        }
    } else {
        NdisAcquireSpinLock(&binding_->Lock);
        // The driver's counters start at zero with the binding; what the kernel counted since
        // the filters went on is not the adapter's.
        kernel_.ResetCounts();
        kernel_.SetSwitches(false, false, false, false, false);
        f.Mirror = this;
        NdisReleaseSpinLock(&binding_->Lock);
    }
    lostSeen_ = kernel_.Counts().lostRecords;
    pump_ = std::thread([this] { Pump(); });
    return true;
}

bool KernelMirror::Seed(FilterState& f, std::string& error) {
    std::vector<std::uint8_t> image;
    if (!kernel_.ReadTable(image, error)) return false;
    RangeTable* table = nullptr;
    if (!image.empty()) {
        PVOID memory = nullptr;
        if (NdisAllocateMemoryWithTag(&memory, UINT(image.size()), kDriverPoolTag) != NDIS_STATUS_SUCCESS) {
            error = "out of memory for the kernel's table";
            return false;
        }
        std::memcpy(memory, image.data(), image.size());
        table = static_cast<RangeTable*>(memory);
    }
    PacketEventRecord* blocked = EventRingAllocateStorage();
    PacketEventRecord* granted = EventRingAllocateStorage();
    const ndis::bpf_media::KernelSwitches switches = kernel_.Switches();
    NdisAcquireSpinLock(&binding_->Lock);
    table = FilterStateSetRanges(f, table);
    blocked = EventRingSwapStorage(f.BlockedRing, blocked);
    granted = EventRingSwapStorage(f.GrantedRing, granted);
    f.FilteringEnabled = switches.filtering ? 1 : 0;
    f.ReportBlocked = switches.reportBlocked ? 1 : 0;
    f.ReportGranted = switches.reportGranted ? 1 : 0;
    // Nobody listens yet: the kernel keeps no records until a program starts filtering.
    PutSwitches(f);
    f.Mirror = this;
    NdisReleaseSpinLock(&binding_->Lock);
    if (table != nullptr) NdisFreeMemory(table, UINT(RangeTableImageSize(table->count)), 0);
    EventRingFreeStorage(blocked);
    EventRingFreeStorage(granted);
    return true;
}

void KernelMirror::Stop() {
    if (pump_.joinable()) {
        const std::uint64_t one = 1;
        if (write(stopFd_.Get(), &one, sizeof one) < 0) {
            // The pump still ends: it looks at the stop descriptor on every turn.
        }
        pump_.join();
    }
    if (binding_ != nullptr) {
        NdisAcquireSpinLock(&binding_->Lock);
        binding_->Filter.Mirror = nullptr;
        NdisReleaseSpinLock(&binding_->Lock);
        DereferenceBinding(binding_);
        binding_ = nullptr;
    }
}

bool KernelMirror::PutTable(const RangeTable* table) {
    std::string error;
    if (kernel_.SetTable(table, error)) {
        if (tableChanged_) tableChanged_();
        return true;
    }
    std::fprintf(stderr, "ferrovane-sys: %s: the kernel refused the table: %s\n", name_.c_str(),
                 error.c_str());
    return false;
}

void KernelMirror::PutSwitches(const FilterState& f) {
    if (!kernel_.SetSwitches(f.FilteringEnabled != 0, f.ReportBlocked != 0, f.BlockedEvent != nullptr,
                             f.ReportGranted != 0, f.GrantedEvent != nullptr)) {
        std::fprintf(stderr, "ferrovane-sys: %s: cannot set the kernel filter's switches\n",
                     name_.c_str());
    }
}

void KernelMirror::GetCounts(FilterState& f) {
    const ndis::bpf_media::KernelCounts c = kernel_.Counts();
    f.SentCount = c.sent;
    f.SentBlockedCount = c.sentBlocked;
    f.ReceivedCount = c.received;
    f.ReceivedBlockedCount = c.receivedBlocked;
}

void KernelMirror::ResetCounts() {
    kernel_.ResetCounts();
}

void KernelMirror::Deliver(const std::vector<std::pair<PacketEventRecord, bool>>& records) {
    FilterState& f = binding_->Filter;
    NdisAcquireSpinLock(&binding_->Lock);
    bool appended[2] = {false, false};
    for (const auto& [record, blocked] : records) {
        // The driver's own rule: a record only while reporting is on and someone listens. The
        // kernel's copy of the switches may lag a closed handle.
        PKEVENT event = blocked ? f.BlockedEvent : f.GrantedEvent;
        const bool report = (blocked ? f.ReportBlocked : f.ReportGranted) != 0;
        if (event == nullptr || !report) continue;
        EventRingAppend(blocked ? f.BlockedRing : f.GrantedRing, record);
        appended[blocked ? 1 : 0] = true;
    }
    // Once per batch: the program empties the whole ring on each signal, and a signal costs two
    // calls into the kernel, more than the record itself.
    if (appended[0]) KeSetEvent(f.GrantedEvent, IO_NO_INCREMENT, FALSE);
    if (appended[1]) KeSetEvent(f.BlockedEvent, IO_NO_INCREMENT, FALSE);
    NdisReleaseSpinLock(&binding_->Lock);
}

void KernelMirror::Pump() {
    std::vector<std::pair<PacketEventRecord, bool>> records;
    const ndis::bpf_media::KernelFilter::RecordSink take =
        [&records](const PacketEventRecord& r, bool blocked) { records.emplace_back(r, blocked); };
    auto nextLostCheck = std::chrono::steady_clock::now();
    for (;;) {
        pollfd fds[2] = {{stopFd_.Get(), POLLIN, 0}, {kernel_.RecordFd(), POLLIN, 0}};
        const int ready = poll(fds, 2, FV_RECORD_COLLECT_MS);
        if (ready < 0 && errno != EINTR) break;
        if ((fds[0].revents & POLLIN) != 0) break;
        records.clear();
        kernel_.TakeRecords(take, 0);
        if (!records.empty()) Deliver(records);
        const auto now = std::chrono::steady_clock::now();
        if (now < nextLostCheck) continue;
        nextLostCheck = now + std::chrono::milliseconds(kLostCheckMs);
        const std::uint64_t lost = kernel_.Counts().lostRecords;
        if (lost != lostSeen_) {
            std::fprintf(stderr,
                         "ferrovane-sys: %s: %llu records lost: the kernel's record buffer was full\n",
                         name_.c_str(), static_cast<unsigned long long>(lost - lostSeen_));
            lostSeen_ = lost;
        }
    }
}

}  // namespace fv::host
