#include "fv_gui/settings/PacketStatistics.h"

#include <string>
#include <utility>

namespace fv {

std::int64_t ParseDecimalTotal(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint64_t value = 0;  // wraps like the 64-bit arithmetic it stands for
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (negative) value = ~value + 1u;
    return static_cast<std::int64_t>(value);
}

namespace {

std::int64_t Add(std::int64_t total, std::uint64_t count) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(total) + count);
}

std::uint64_t TakeCount(std::mutex& lock, std::uint64_t& count) {
    std::lock_guard guard(lock);
    return std::exchange(count, 0);
}

}  // namespace

PacketStatistics::PacketStatistics()
    : totalBlockedValue_(kTotalBlockedPath, "0", Hive::LocalMachine),
      totalGrantedValue_(kTotalGrantedPath, "0", Hive::LocalMachine) {
    totalBlocked_ = ParseDecimalTotal(totalBlockedValue_.Get());
    totalGranted_ = ParseDecimalTotal(totalGrantedValue_.Get());
    totalBlockedUnknown_ = totalBlockedValue_.Unreadable();
    totalGrantedUnknown_ = totalGrantedValue_.Unreadable();
}

void PacketStatistics::CountBlocked() {
    std::lock_guard lock(runningBlockedLock_);
    ++runningBlocked_;
}

void PacketStatistics::CountGranted() {
    std::lock_guard lock(runningGrantedLock_);
    ++runningGranted_;
}

std::uint64_t PacketStatistics::GetRunningBlocked() {
    std::lock_guard lock(runningBlockedLock_);
    return runningBlocked_;
}

std::uint64_t PacketStatistics::GetRunningGranted() {
    std::lock_guard lock(runningGrantedLock_);
    return runningGranted_;
}

std::int64_t PacketStatistics::GetTotalBlocked() {
    std::lock_guard lock(totalBlockedLock_);
    return totalBlocked_;
}

std::int64_t PacketStatistics::GetTotalGranted() {
    std::lock_guard lock(totalGrantedLock_);
    return totalGranted_;
}

void PacketStatistics::ResetRunningBlocked() {
    std::lock_guard lock(runningBlockedLock_);
    runningBlocked_ = 0;
}

void PacketStatistics::ResetRunningGranted() {
    std::lock_guard lock(runningGrantedLock_);
    runningGranted_ = 0;
}

void PacketStatistics::ResetTotalBlocked() {
    std::lock_guard lock(totalBlockedLock_);
    totalBlocked_ = 0;
    totalBlockedUnknown_ = false;
}

void PacketStatistics::ResetTotalGranted() {
    std::lock_guard lock(totalGrantedLock_);
    totalGranted_ = 0;
    totalGrantedUnknown_ = false;
}

void PacketStatistics::CarryRunningToTotals() {
    const std::uint64_t blocked = TakeCount(runningBlockedLock_, runningBlocked_);
    {
        std::lock_guard lock(totalBlockedLock_);
        totalBlocked_ = Add(totalBlocked_, blocked);
    }
    const std::uint64_t granted = TakeCount(runningGrantedLock_, runningGranted_);
    std::lock_guard lock(totalGrantedLock_);
    totalGranted_ = Add(totalGranted_, granted);
}

namespace {

// A stored total that could not be read at start is read again: the session's count is added to
// it. While it stays unreadable nothing is written, so the count never replaces the lifetime total.
void SaveTotal(RegistryString& stored, std::int64_t& total, bool& unknown, std::uint64_t running) {
    if (unknown) {
        const std::string text = stored.Read();
        if (stored.Unreadable()) return;
        total = Add(total, static_cast<std::uint64_t>(ParseDecimalTotal(text)));
        unknown = false;
    }
    total = Add(total, running);
    stored.Set(std::to_string(total));
}

}  // namespace

void PacketStatistics::Save() {
    SaveTotal(totalBlockedValue_, totalBlocked_, totalBlockedUnknown_, runningBlocked_);
    SaveTotal(totalGrantedValue_, totalGranted_, totalGrantedUnknown_, runningGranted_);
}

}  // namespace fv
