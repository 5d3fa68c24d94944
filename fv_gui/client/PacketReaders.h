// What the reader threads share with the driver session: the adapter handle, the stop flag, the
// reused record buffers with their locks, and the session's outputs (statistics, queue, log,
// notify events). The threads hold this state by shared ownership, so a watcher that had to be
// abandoned can never outlive what it touches.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "fv_drv/contract/PacketEventRecord.h"
#include "fv_gui/blocklist/IpTable.h"
#include "fv_gui/client/AdapterChannel.h"
#include "fv_gui/logging/BlockedPacketView.h"
#include "fv_gui/logging/ConnectionLog.h"
#include "fv_platform/Event.h"
#include "fv_platform/Mutex.h"

namespace fv {

class PacketRecordQueue;
class PacketStatistics;
class Settings;

// The main window is woken at most this often per kind while records keep coming.
inline constexpr std::uint32_t kNotifyIntervalMs = 1000;
// A watcher's pause after each drain; also the pause between the first two sets of the exit
// event when the watchers are ended.
inline constexpr std::uint32_t kWatcherPauseMs = 20;
// What a record read that failed leaves in the buffers.
inline constexpr std::uint8_t kPlaceholderByte = 0x01;

enum class RecordKind { Blocked, Granted };

// Copied from the session's parameters; the objects belong to the main window.
struct ReaderOutputs {
    Settings* settings = nullptr;
    PacketRecordQueue* queue = nullptr;
    PacketStatistics* statistics = nullptr;
    Event* blockedNotify = nullptr;
    Event* grantedNotify = nullptr;
};

struct ReaderState {
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

    // The throttle flags are set for the session's life.
    const bool blockedThrottle = true;
    const bool grantedThrottle = true;
    std::atomic<std::uint32_t> lastBlockedNotify{0};
    std::atomic<std::uint32_t> lastGrantedNotify{0};

    Mutex blockedRecordLock;
    Mutex grantedRecordLock;
    Mutex blockedDrainLock;
    Mutex grantedDrainLock;
    BlockedPacketView blockedView{};
    PacketEventRecord grantedRecord{};
};

// A watcher's thread body: drains on each signal of `packetEvent` until the exit event fires,
// the stop flag is seen after a drain, or the wait fails; then passes the exit signal on.
void RunWatcher(std::shared_ptr<ReaderState> state, RecordKind kind,
                std::shared_ptr<Event> packetEvent, std::shared_ptr<Event> exitEvent);

// One drain: the pending count, then that many records, one request each.
void DrainBlocked(ReaderState& state);
void DrainGranted(ReaderState& state);

}  // namespace fv
