#include "fv_gui/client/PacketReaders.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "fv_contract/ControlCodes.h"
#include "fv_gui/logging/PacketRecordQueue.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/Thread.h"
#include "fv_platform/TickCount.h"
#include "fv_platform/Wait.h"

namespace fv {
namespace {

DrainContext TakeContext(ReaderState& state) {
    std::lock_guard guard(state.sessionLock);
    return {state.outputs, state.table, state.log, state.cache};
}

template <std::size_t N>
void CopyText(char (&to)[N], const std::string& text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(to, text.data(), length);
    to[length] = '\0';
}

bool LogsToFile(const DrainContext& context, RecordKind kind) {
    const Settings* settings = context.outputs.settings;
    if (context.log == nullptr || settings == nullptr) return false;
    const DwordSetting& setting =
        kind == RecordKind::Blocked ? settings->LogBlockedToFile : settings->LogGrantedToFile;
    return setting.value != 0;
}

void DeliverBlocked(ReaderState& state, const DrainContext& context,
                    const PacketEventRecord& record) {
    BlockedPacketView& view = state.blockedView;
    std::memset(&view, kViewPresetByte, sizeof view);
    view.packet = record;
    std::string description;
    if (context.table == nullptr || !context.table->LookupName(record.remoteAddress, description)) {
        description = kDescriptionLookupFailed;
    }
    CopyText(view.description, description);
    // Written on a miss too: the consumers show the text beside the description.
    CopyText(view.addressText, FormatDottedAddress(record.remoteAddress));
    if (context.outputs.queue != nullptr) context.outputs.queue->PushBlocked(view);
    if (LogsToFile(context, RecordKind::Blocked)) context.log->LogRecord(view.packet, true);
}

void DeliverGranted(ReaderState&, const DrainContext& context, const PacketEventRecord& record) {
    if (context.outputs.queue != nullptr) context.outputs.queue->PushGranted(record);
    if (LogsToFile(context, RecordKind::Granted) && context.cache != nullptr &&
        context.cache->Admit(record.remoteAddress)) {
        context.log->LogRecord(record, false);
    }
}

}  // namespace

ReaderState::ReaderState()
    : blocked(RecordKind::Blocked, DeliverBlocked), granted(RecordKind::Granted, DeliverGranted) {}

Event* RecordChannel::NotifyEvent(const ReaderOutputs& outputs) const {
    return kind_ == RecordKind::Blocked ? outputs.blockedNotify : outputs.grantedNotify;
}

void RecordChannel::Notify(Event* event) {
    if (event == nullptr) return;
    if (!throttle_) {
        event->Set();
        return;
    }
    const std::uint32_t now = TickCount();
    if (std::uint32_t(now - lastNotify_.load()) > kNotifyIntervalMs) {
        event->Set();
        lastNotify_.store(now);
        notifyOwed_.store(false);
    } else {
        // The main window reads the queue only when woken: these records need a wake-up of
        // their own once the interval has passed, or they wait for the next packet.
        notifyOwed_.store(true);
    }
}

std::uint32_t RecordChannel::SettleOwedNotify(Event* event) {
    if (!notifyOwed_.load() || event == nullptr) return kInfinite;
    const std::uint32_t since = TickCount() - lastNotify_.load();
    if (since <= kNotifyIntervalMs) return kNotifyIntervalMs - since + 1;
    Notify(event);
    return kInfinite;
}

void RecordChannel::Watch(const std::shared_ptr<ReaderState>& state,
                          const std::shared_ptr<Event>& packetEvent,
                          const std::shared_ptr<Event>& exitEvent) {
    for (;;) {
        std::uint32_t timeout = kInfinite;
        {
            std::shared_lock attached(state->detachLock);
            if (!state->detached) timeout = SettleOwedNotify(NotifyEvent(TakeContext(*state).outputs));
        }
        const std::uint32_t result = WaitForObjects({packetEvent.get(), exitEvent.get()}, timeout);
        if (result == kWaitTimeout) continue;  // an owed wake-up is due
        if (result != kWaitObject0) break;     // the exit event, or a wait that cannot succeed
        {
            // The drain runs on a thread of its own that the watcher only waits for: a stuck
            // request then holds the drainer, and the watcher can still be given up on.
            Thread drainer([state, this] { Drain(*state); });
            if (drainer.Started()) {
                WaitForObject(drainer.Handle(), kInfinite);
                drainer.Join();
            } else {
                Drain(*state);  // no thread to be had: the records are still taken
            }
        }
        if (state->stop.load()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kWatcherPauseMs));
    }
    // The exit event is auto-reset: pass the signal on to the other watcher.
    exitEvent->Set();
}

void RecordChannel::Drain(ReaderState& state) {
    const bool blocked = kind_ == RecordKind::Blocked;
    std::lock_guard drain(drainLock);
    std::uint32_t count = 0;
    std::uint32_t returned = 0;
    if (!state.adapter.Call(blocked ? IOCTL_GET_BLOCKED_COUNT : IOCTL_GET_GRANTED_COUNT, nullptr, 0,
                            &count, sizeof count, &returned) ||
        returned != sizeof count) {
        return;
    }
    const DrainContext context = TakeContext(state);
    const ReaderOutputs& out = context.outputs;
    for (std::uint32_t i = 0; i < count; ++i) {
        // Counted whether or not its record can be read: the count vouches for a packet the
        // driver decided on.
        {
            std::shared_lock attached(state.detachLock);
            if (state.detached) return;
            if (out.statistics != nullptr) {
                if (blocked) {
                    out.statistics->CountBlocked();
                } else {
                    out.statistics->CountGranted();
                }
            }
        }
        bool read;
        {
            std::lock_guard record(recordLock);
            read = state.adapter.Call(blocked ? IOCTL_GET_BLOCKED_RECORD : IOCTL_GET_GRANTED_RECORD,
                                      nullptr, 0, &record_, sizeof record_, &returned) &&
                   returned == sizeof record_;
            std::shared_lock attached(state.detachLock);
            if (state.detached) return;
            if (read) {
                record_.remoteAddress = ntohl(record_.remoteAddress);
                deliver_(state, context, record_);
                Notify(NotifyEvent(out));
            } else if (LogsToFile(context, kind_)) {
                // No packet is made up for it: the log says what happened.
                context.log->WriteLine(blocked ? kBlockedRecordUnreadableText
                                               : kGrantedRecordUnreadableText);
            }
        }
        if (state.stop.load()) return;
        // A connection that broke answers nothing more; the next signal starts afresh.
        if (!read && !state.adapter.Valid()) return;
    }
}

}  // namespace fv
