// The running and lifetime packet counters. The totals live in the machine's hive as decimal
// text ("Software\Ferrovane\Stats\TotalBlocked" and "TotalGranted").
#pragma once

#include <cstdint>
#include <mutex>
#include <string_view>

#include "fv_gui/settings/RegistryValue.h"

namespace fv {

inline constexpr const char kTotalBlockedPath[] = "Software\\Ferrovane\\Stats\\TotalBlocked";
inline constexpr const char kTotalGrantedPath[] = "Software\\Ferrovane\\Stats\\TotalGranted";

// Leading decimal digits after an optional sign; anything after them is ignored; no digits: 0.
std::int64_t ParseDecimalTotal(std::string_view text);

class PacketStatistics {
public:
    // Reads the two totals; the running counters start at 0.
    PacketStatistics();
    PacketStatistics(const PacketStatistics&) = delete;
    PacketStatistics& operator=(const PacketStatistics&) = delete;

    void CountBlocked();
    void CountGranted();
    std::uint64_t GetRunningBlocked();
    std::uint64_t GetRunningGranted();
    std::int64_t GetTotalBlocked();
    std::int64_t GetTotalGranted();
    void ResetRunningBlocked();
    void ResetRunningGranted();
    void ResetTotalBlocked();
    void ResetTotalGranted();
    // Moves the running counts into the totals: a new run counts from zero without losing what
    // the earlier one counted. Takes one counter's lock at a time.
    void CarryRunningToTotals();

    // Adds the running counts to the totals and writes the totals as decimal text. Called once
    // at exit, when no reader thread runs; takes no lock; leaves the running counts alone. A
    // total whose hive could not be read at start is read again first, and not written while
    // it stays unreadable.
    void Save();

private:
    std::mutex runningBlockedLock_;
    std::mutex runningGrantedLock_;
    std::mutex totalBlockedLock_;
    std::mutex totalGrantedLock_;
    std::uint64_t runningBlocked_ = 0;
    std::uint64_t runningGranted_ = 0;
    std::int64_t totalBlocked_ = 0;
    std::int64_t totalGranted_ = 0;
    bool totalBlockedUnknown_ = false;  // the stored total could not be read (and not reset since)
    bool totalGrantedUnknown_ = false;
    RegistryString totalBlockedValue_;
    RegistryString totalGrantedValue_;
};

}  // namespace fv
