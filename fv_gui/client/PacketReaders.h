// What the reader threads share with the driver session: the adapter handle, the stop flag, one
// record channel per kind of record with its locks and notification throttle, and the session's
// outputs (statistics, queue, log, notify events). The threads hold this state by shared
// ownership, so a watcher that had to be abandoned can never outlive what it touches.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "fv_contract/PacketEventRecord.h"
#include "fv_gui/blocklist/IpTable.h"
#include "fv_gui/client/AdapterChannel.h"
#include "fv_gui/logging/BlockedPacketView.h"
#include "fv_gui/logging/ConnectionLog.h"
#include "fv_platform/Event.h"
#include "fv_platform/RecursiveMutex.h"

namespace fv {

class PacketRecordQueue;
class PacketStatistics;
class Settings;
struct ReaderState;

// The main window is woken at most this often per kind while records keep coming.
inline constexpr std::uint32_t kNotifyIntervalMs = 1000;
// A watcher's pause after each drain; also the pause between the first two sets of the exit
// event when the watchers are ended.
inline constexpr std::uint32_t kWatcherPauseMs = 20;
// What the blocked view holds before each read.
inline constexpr std::uint8_t kViewPresetByte = 0x01;
// The log line written in place of a record that could not be read from the driver.
inline constexpr const char kBlockedRecordUnreadableText[] =
    "[!] A blocked packet was reported, but its record could not be read from the driver";
inline constexpr const char kGrantedRecordUnreadableText[] =
    "[!] A granted packet was reported, but its record could not be read from the driver";

enum class RecordKind { Blocked, Granted };

// Copied from the session's parameters; the objects belong to the main window.
struct ReaderOutputs {
    Settings* settings = nullptr;
    PacketRecordQueue* queue = nullptr;
    PacketStatistics* statistics = nullptr;
    Event* blockedNotify = nullptr;
    Event* grantedNotify = nullptr;
};

// The state a drain works with, taken once at its start. The table outlives the log that
// refers to it.
struct DrainContext {
    ReaderOutputs outputs;
    std::shared_ptr<const IpTable> table;
    std::shared_ptr<ConnectionLog> log;
    std::shared_ptr<GrantedAddressCache> cache;
};

// One kind of record on its way from a ring of the driver to the program: its requests, the lock
// of its drains and of its record buffer, its notification throttle, and the watcher and drain
// that carry it. What is done with each record read is passed in.
class RecordChannel {
public:
    // Hands on one record read whole (address in host order), with the record lock held.
    using Deliver = void (*)(ReaderState& state, const DrainContext& context,
                             const PacketEventRecord& record);

    RecordChannel(RecordKind kind, Deliver deliver) : kind_(kind), deliver_(deliver) {}
    RecordChannel(const RecordChannel&) = delete;
    RecordChannel& operator=(const RecordChannel&) = delete;

    RecordKind Kind() const { return kind_; }

    // A watcher's thread body: drains on each signal of `packetEvent` until the exit event
    // fires, the stop flag is seen after a drain, or the wait fails; then passes the exit
    // signal on.
    void Watch(const std::shared_ptr<ReaderState>& state, const std::shared_ptr<Event>& packetEvent,
               const std::shared_ptr<Event>& exitEvent);
    // One drain: the pending count, then that many records, one request each.
    void Drain(ReaderState& state);

    // Held for a whole drain, so that two drains of one kind never overlap.
    RecursiveMutex drainLock;
    // Held while the record buffer is filled and handed on.
    RecursiveMutex recordLock;

private:
    // Wakes the main window, at most once per interval; a wake-up held back is owed.
    void Notify(Event* event);
    // How long until an owed wake-up may be given (kInfinite when none is owed); gives it when
    // its time has come.
    std::uint32_t SettleOwedNotify(Event* event);
    Event* NotifyEvent(const ReaderOutputs& outputs) const;

    const RecordKind kind_;
    const Deliver deliver_;
    // Always set: every kind is throttled. Kept as a switch, since an unthrottled channel would
    // wake the main window for every record.
    const bool throttle_ = true;
    std::atomic<std::uint32_t> lastNotify_{0};
    std::atomic<bool> notifyOwed_{false};
    PacketEventRecord record_{};  // guarded by recordLock
};

struct ReaderState {
    ReaderState();

    std::atomic<bool> stop{false};
    AdapterChannel adapter;

    // Set by the session while no reader runs; a drain works with the copies it took at its start.
    std::mutex sessionLock;
    ReaderOutputs outputs;
    std::shared_ptr<const IpTable> table;
    std::shared_ptr<ConnectionLog> log;
    std::shared_ptr<GrantedAddressCache> cache;

    // Drainers hold it shared while they touch the outputs; the session takes it exclusively to
    // detach, after which an abandoned reader touches nothing of the main window's.
    std::shared_mutex detachLock;
    bool detached = false;

    // Blocked records get their range's description; granted ones pass the address cache.
    RecordChannel blocked;
    RecordChannel granted;
    // The view handed on for each blocked record, guarded by the blocked channel's record lock.
    BlockedPacketView blockedView{};

    RecordChannel& Channel(RecordKind kind) { return kind == RecordKind::Blocked ? blocked : granted; }
};

}  // namespace fv
