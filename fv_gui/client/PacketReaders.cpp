#include "fv_gui/client/PacketReaders.h"

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "fv_drv/contract/ControlCodes.h"
#include "fv_gui/logging/PacketRecordQueue.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/Thread.h"
#include "fv_platform/TickCount.h"
#include "fv_platform/Wait.h"

namespace fv {
namespace {

// The state a drain works with, taken once at its start. The table outlives the log that
// refers to it.
struct DrainContext {
    ReaderOutputs outputs;
    std::shared_ptr<const IpTable> table;
    std::shared_ptr<ConnectionLog> log;
    std::shared_ptr<GrantedAddressCache> cache;
};

DrainContext TakeContext(ReaderState& state) {
    std::lock_guard guard(state.sessionLock);
    return {state.outputs, state.table, state.log, state.cache};
}

void Notify(std::atomic<std::uint32_t>& last, bool throttled, Event* event) {
    if (event == nullptr) return;
    if (!throttled) {
        event->Set();
        return;
    }
    const std::uint32_t now = TickCount();
    if (std::uint32_t(now - last.load()) > kNotifyIntervalMs) {
        event->Set();
        last.store(now);
    }
}

// The pending count of one ring, or none when the request fails or answers short.
bool PendingCount(ReaderState& state, std::uint32_t code, std::uint32_t& count) {
    std::uint32_t returned = 0;
    return state.adapter.Call(code, nullptr, 0, &count, sizeof count, &returned) &&
           returned == sizeof count;
}

// Reads one record into `record`; false (the record untouched by the driver) on a failure or a
// short answer.
bool ReadRecord(ReaderState& state, std::uint32_t code, PacketEventRecord& record) {
    std::uint32_t returned = 0;
    return state.adapter.Call(code, nullptr, 0, &record, sizeof record, &returned) &&
           returned == sizeof record;
}

template <std::size_t N>
void CopyText(char (&to)[N], const std::string& text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(to, text.data(), length);
    to[length] = '\0';
}

}  // namespace

void RunWatcher(std::shared_ptr<ReaderState> state, RecordKind kind,
                std::shared_ptr<Event> packetEvent, std::shared_ptr<Event> exitEvent) {
    for (;;) {
        const std::uint32_t result = WaitForObjects({packetEvent.get(), exitEvent.get()}, kInfinite);
        if (result != kWaitObject0) break;  // the exit event, or a wait that cannot succeed
        {
            Thread drainer([state, kind] {
                if (kind == RecordKind::Blocked) {
                    DrainBlocked(*state);
                } else {
                    DrainGranted(*state);
                }
            });
            WaitForObject(drainer.Handle(), kInfinite);
            drainer.Join();
        }
        if (state->stop.load()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kWatcherPauseMs));
    }
    // The exit event is auto-reset: pass the signal on to the other watcher.
    exitEvent->Set();
}

void DrainBlocked(ReaderState& state) {
    std::lock_guard drain(state.blockedDrainLock);
    std::uint32_t count = 0;
    if (!PendingCount(state, IOCTL_GET_BLOCKED_COUNT, count)) return;
    const DrainContext context = TakeContext(state);
    const ReaderOutputs& out = context.outputs;
    for (std::uint32_t i = 0; i < count; ++i) {
        {
            std::shared_lock attached(state.detachLock);
            if (state.detached) return;
            if (out.statistics != nullptr) out.statistics->CountBlocked();
        }
        bool read;
        {
            std::lock_guard record(state.blockedRecordLock);
            BlockedPacketView& view = state.blockedView;
            std::memset(&view, kPlaceholderByte, sizeof view);
            read = ReadRecord(state, IOCTL_GET_BLOCKED_RECORD, view.packet);
            if (read) {
                view.packet.remoteAddress = ntohl(view.packet.remoteAddress);
                std::string description;
                if (context.table == nullptr ||
                    !context.table->LookupName(view.packet.remoteAddress, description)) {
                    description = kDescriptionLookupFailed;
                }
                CopyText(view.description, description);
                // Written on a miss too: the consumers show the text beside the description.
                CopyText(view.addressText, FormatDottedAddress(view.packet.remoteAddress));
            } else {
                std::memset(&view.packet, kPlaceholderByte, sizeof view.packet);
                view.description[0] = '\0';
                view.addressText[0] = '\0';
            }
            std::shared_lock attached(state.detachLock);
            if (state.detached) return;
            if (out.queue != nullptr) out.queue->PushBlocked(view);
            if (context.log != nullptr && out.settings != nullptr &&
                out.settings->LogBlockedToFile.value != 0) {
                context.log->LogRecord(view.packet, true);
            }
            Notify(state.lastBlockedNotify, state.blockedThrottle, out.blockedNotify);
        }
        if (state.stop.load()) return;
        // A connection that broke answers nothing more; the next signal starts afresh.
        if (!read && !state.adapter.Valid()) return;
    }
}

void DrainGranted(ReaderState& state) {
    std::lock_guard drain(state.grantedDrainLock);
    std::uint32_t count = 0;
    if (!PendingCount(state, IOCTL_GET_GRANTED_COUNT, count)) return;
    const DrainContext context = TakeContext(state);
    const ReaderOutputs& out = context.outputs;
    for (std::uint32_t i = 0; i < count; ++i) {
        {
            std::shared_lock attached(state.detachLock);
            if (state.detached) return;
            if (out.statistics != nullptr) out.statistics->CountGranted();
        }
        bool read;
        {
            std::lock_guard record(state.grantedRecordLock);
            PacketEventRecord& granted = state.grantedRecord;
            std::memset(&granted, kPlaceholderByte, sizeof granted);
            read = ReadRecord(state, IOCTL_GET_GRANTED_RECORD, granted);
            if (read) {
                granted.remoteAddress = ntohl(granted.remoteAddress);
            } else {
                std::memset(&granted, kPlaceholderByte, sizeof granted);
            }
            std::shared_lock attached(state.detachLock);
            if (state.detached) return;
            if (out.queue != nullptr) out.queue->PushGranted(granted);
            if (context.log != nullptr && context.cache != nullptr && out.settings != nullptr &&
                out.settings->LogGrantedToFile.value != 0 &&
                context.cache->Admit(granted.remoteAddress)) {
                context.log->LogRecord(granted, false);
            }
            Notify(state.lastGrantedNotify, state.grantedThrottle, out.grantedNotify);
        }
        if (state.stop.load()) return;
        if (!read && !state.adapter.Valid()) return;
    }
}

}  // namespace fv
