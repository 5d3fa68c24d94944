// The three worker threads that turn packet records into what the user sees: the blocked
// consumer (log rows, popups, tray blinks, the blocked counter), the granted consumer (log rows
// and the granted counter) and the lamp blinker (one flash of the status lamp per batch of
// blocked packets).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "fv_gui/logging/BlockedPacketView.h"
#include "fv_gui/logging/PacketRecordQueue.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/Event.h"
#include "fv_platform/Thread.h"

namespace fv {

// What the consumers change; implemented by the main window. Called from worker threads: every
// implementation posts to the window's thread (or is itself thread-safe).
class ConsumerView {
public:
    // `kind` of AddLogEntry and SetCounterText.
    static constexpr int kBlocked = 0;
    static constexpr int kGranted = 1;

    virtual ~ConsumerView() = default;
    virtual void AddLogEntry(int kind, int icon, const std::string& text, std::uint32_t address) = 0;
    virtual void SetCounterText(int kind, const std::string& text) = 0;
    virtual void ShowTrayBalloon(const std::string& title, const std::string& text) = 0;  // warning icon, 10 s
    virtual void ShowNotifier(const std::string& text) = 0;                               // 500/4000/200 ms
    virtual void BlinkTrayIcon() = 0;                                                     // 1500, 100, 300
    virtual void SetLampState(int state) = 0;
    virtual void EnableAdapterSelector(bool enable) = 0;
};

// The consumers' pauses: after each shown record, and while the lamp shows its flash.
struct ConsumerPacing {
    static constexpr std::chrono::milliseconds kRecordPause{20};
    static constexpr std::chrono::milliseconds kLampFlash{250};
    std::function<void(std::chrono::milliseconds)> sleep = [](std::chrono::milliseconds d) {
        std::this_thread::sleep_for(d);
    };
};

class PacketConsumers {
public:
    // `Popup` values.
    static constexpr std::uint32_t kPopupBalloon = 1;
    static constexpr std::uint32_t kPopupNotifier = 2;
    // Lamp states the blinker shows.
    static constexpr int kLampFiltering = 2;
    static constexpr int kLampFlash = 3;

    PacketConsumers(PacketRecordQueue& queue, Settings& settings, PacketStatistics& statistics,
                    ConsumerView& view, ConsumerPacing pacing = {});
    // Ends threads still running, without dispatching events or calling the view: an owner
    // calls StopConsumers itself while the view is whole.
    ~PacketConsumers();
    PacketConsumers(const PacketConsumers&) = delete;
    PacketConsumers& operator=(const PacketConsumers&) = delete;

    // Starts the blocked consumer, the lamp blinker and the granted consumer, then disables the
    // adapter selector. Consumers still running from an earlier start are stopped first.
    void StartConsumers();
    // Returns only after every thread has ended; while it waits it keeps the Qt event loop
    // running, since the threads may be waiting for the window's thread.
    void StopConsumers();

    Event& BlockedNotifyEvent() { return blockedNotify_; }  // the session's readers set these
    Event& GrantedNotifyEvent() { return grantedNotify_; }

    bool Running() const { return blockedThread_ || grantedThread_ || lampThread_; }
    bool StopRequested() const { return stop_.load(); }

private:
    void BlockedConsumer();
    void GrantedConsumer();
    void LampBlinker();
    void ShowBlocked(const BlockedPacketView& view);
    void ShowGranted(const PacketEventRecord& record);
    std::shared_ptr<Thread> Start(void (PacketConsumers::*body)());
    void Stop(std::shared_ptr<Thread>& slot, int exitRounds);
    void ClearEndedFlags();

    PacketRecordQueue& queue_;
    Settings& settings_;
    PacketStatistics& statistics_;
    ConsumerView& view_;
    ConsumerPacing pacing_;

    Event blockedNotify_{Event::Mode::AutoReset};
    Event grantedNotify_{Event::Mode::AutoReset};
    Event blink_{Event::Mode::AutoReset};
    // Manual-reset: every thread waiting on it sees it, however close together the sets come.
    Event exit_{Event::Mode::ManualReset};

    std::atomic<bool> stop_{false};
    std::atomic<bool> blockedEnded_{false};
    std::atomic<bool> grantedEnded_{false};
    std::atomic<bool> lampEnded_{false};

    // Shared so that a wait interrupted by a nested StopConsumers still holds the thread's handle.
    std::shared_ptr<Thread> blockedThread_;
    std::shared_ptr<Thread> grantedThread_;
    std::shared_ptr<Thread> lampThread_;

    BlockedPacketView blockedRecord_{};
    PacketEventRecord grantedRecord_{};
};

}  // namespace fv
