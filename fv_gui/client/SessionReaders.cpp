// Starting and ending the session's reader threads.
#include <chrono>
#include <thread>

#include "fv_gui/client/DriverSession.h"
#include "fv_platform/Wait.h"

namespace fv {

bool DriverSession::StartReaders() {
    // Watchers wait on the events; without them there is nothing to start.
    if (!blockedEvent_ || !grantedEvent_ || !exitEvent_) return false;
    // Watchers still running from before keep the exit event they wait on.
    if (!blockedWatcher_ && !grantedWatcher_) chainExitEvent_ = exitEvent_;
    if (!blockedWatcher_) {
        blockedAbandoned_ = false;
        blockedWatcher_ = std::make_unique<Thread>(
            [state = state_, packet = blockedEvent_, exit = chainExitEvent_] {
                state->blocked.Watch(state, packet, exit);
            });
        if (!KeepStarted(blockedWatcher_)) return false;
    }
    if (grantedWatcher_) return false;
    grantedAbandoned_ = false;
    grantedWatcher_ = std::make_unique<Thread>(
        [state = state_, packet = grantedEvent_, exit = chainExitEvent_] {
            state->granted.Watch(state, packet, exit);
        });
    return KeepStarted(grantedWatcher_);
}

bool DriverSession::KeepStarted(std::unique_ptr<Thread>& watcher) {
    if (watcher->Started()) return true;
    messageText_ = kThreadStartFailedText + watcher->StartError();
    watcher.reset();
    return false;
}

void DriverSession::SetExitEvent() {
    if (chainExitEvent_) {
        chainExitEvent_->Set();
    } else if (exitEvent_) {
        exitEvent_->Set();
    }
}

void DriverSession::EndWatcher(std::unique_ptr<Thread>& watcher, bool& abandoned) {
    if (!watcher) return;
    if (WaitForObject(watcher->Handle(), watcherEndWaitMs_) != kWaitObject0) {
        SetExitEvent();
        if (WaitForObject(watcher->Handle(), watcherEndWaitMs_) != kWaitObject0) {
            // Never killed: it may hold a lock. It runs on with its own share of the reader
            // state, and its reference stays, so the readers cannot be started again meanwhile.
            watcher->Abandon();
            abandoned = true;
            return;
        }
    }
    watcher->Join();
    watcher.reset();
    abandoned = false;
}

bool DriverSession::EndExitEventChain() {
    state_->stop.store(true);
    const bool existed = blockedWatcher_ || grantedWatcher_;
    SetExitEvent();
    std::this_thread::sleep_for(std::chrono::milliseconds(kWatcherPauseMs));
    SetExitEvent();
    EndWatcher(blockedWatcher_, blockedAbandoned_);
    SetExitEvent();
    EndWatcher(grantedWatcher_, grantedAbandoned_);
    return existed;
}

}  // namespace fv
