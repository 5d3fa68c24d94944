#include "fv_gui/settings/PacketStatistics.h"

#include <string>

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

PacketStatistics::PacketStatistics()
    : totalBlockedValue_(kTotalBlockedPath, "0", Hive::LocalMachine),
      totalGrantedValue_(kTotalGrantedPath, "0", Hive::LocalMachine) {
    totalBlocked_ = ParseDecimalTotal(totalBlockedValue_.Get());
    totalGranted_ = ParseDecimalTotal(totalGrantedValue_.Get());
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
}

void PacketStatistics::ResetTotalGranted() {
    std::lock_guard lock(totalGrantedLock_);
    totalGranted_ = 0;
}

void PacketStatistics::Save() {
    totalBlocked_ = static_cast<std::int64_t>(static_cast<std::uint64_t>(totalBlocked_) + runningBlocked_);
    totalGranted_ = static_cast<std::int64_t>(static_cast<std::uint64_t>(totalGranted_) + runningGranted_);
    totalBlockedValue_.Set(std::to_string(totalBlocked_));
    totalGrantedValue_.Set(std::to_string(totalGranted_));
}

}  // namespace fv
