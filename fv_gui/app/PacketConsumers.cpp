#include "fv_gui/app/PacketConsumers.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>

#include "fv_gui/app/ConsumerTexts.h"
#include "fv_gui/logging/ProtocolName.h"
#include "fv_gui/logview/CLogListCtrl.h"
#include "fv_gui/logview/CLogWindow.h"
#include "fv_platform/Wait.h"

namespace fv {
namespace {

static_assert(ConsumerView::kBlocked == CLogWindow::kBlocked && ConsumerView::kGranted == CLogWindow::kGranted);

// How often each thread's stop sets the exit event: the first stop has three threads to release.
constexpr int kLampExitRounds = 3;
constexpr int kBlockedExitRounds = 2;
constexpr int kGrantedExitRounds = 1;

// Waits for the thread to end while the calling thread's events keep being dispatched: a
// consumer may be waiting for the window's thread to take its update.
void WaitDispatching(Thread& thread) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && QThread::currentThread() == app->thread() && !thread.Finished()) {
        QEventLoop loop;
        QSocketNotifier ended(thread.Handle().WaitFd(), QSocketNotifier::Read);
        QObject::connect(&ended, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        // The handle stays signalled, so an end between the check and exec() still wakes the loop.
        if (!thread.Finished()) loop.exec();
    }
    thread.Join();
}

bool IsOn(const DwordSetting& setting) { return setting.value.load() != 0; }

}  // namespace

PacketConsumers::PacketConsumers(PacketRecordQueue& queue, Settings& settings, PacketStatistics& statistics,
                                 ConsumerView& view, ConsumerPacing pacing)
    : queue_(queue), settings_(settings), statistics_(statistics), view_(view), pacing_(std::move(pacing)) {}

PacketConsumers::~PacketConsumers() {
    stop_ = true;
    exit_.Set();
    for (auto* slot : {&lampThread_, &blockedThread_, &grantedThread_}) {
        if (*slot) (*slot)->Join();
        slot->reset();
    }
}

std::shared_ptr<Thread> PacketConsumers::Start(void (PacketConsumers::*body)()) {
    auto thread = std::make_shared<Thread>([this, body] { (this->*body)(); });
    return thread->Started() ? thread : nullptr;
}

void PacketConsumers::StartConsumers() {
    // Forgetting running consumers would leave them taking records and flashing the lamp with
    // nobody able to end them.
    if (Running()) StopConsumers();
    stop_ = false;
    blockedThread_ = Start(&PacketConsumers::BlockedConsumer);
    lampThread_ = Start(&PacketConsumers::LampBlinker);
    grantedThread_ = Start(&PacketConsumers::GrantedConsumer);
    view_.EnableAdapterSelector(false);
}

void PacketConsumers::ClearEndedFlags() {
    blockedEnded_ = false;
    grantedEnded_ = false;
    lampEnded_ = false;
}

void PacketConsumers::Stop(std::shared_ptr<Thread>& slot, int exitRounds) {
    const std::shared_ptr<Thread> thread = slot;
    if (!thread) return;
    for (int i = 0; i < exitRounds; ++i) exit_.Set();
    WaitDispatching(*thread);
    // A StopConsumers run from the dispatched events may have forgotten it, or a start put a
    // new thread in its place.
    if (slot == thread) slot.reset();
}

void PacketConsumers::StopConsumers() {
    ClearEndedFlags();
    stop_ = true;
    Stop(lampThread_, kLampExitRounds);
    Stop(blockedThread_, kBlockedExitRounds);
    Stop(grantedThread_, kGrantedExitRounds);
    ClearEndedFlags();
    exit_.Reset();
    grantedNotify_.Reset();
    blockedNotify_.Reset();
    // A flash still owed would light the lamp after the next start, filtering or not.
    blink_.Reset();
    stop_ = false;
    view_.EnableAdapterSelector(true);
}

void PacketConsumers::BlockedConsumer() {
    for (;;) {
        if (WaitForObjects({&exit_, &blockedNotify_}, kInfinite) != kWaitObject0 + 1) {
            blockedEnded_ = true;
            return;
        }
        blink_.Set();
        if (!IsOn(settings_.LogBlockedToVideo)) {
            while (queue_.PopBlocked(blockedRecord_)) {
            }
            continue;
        }
        while (queue_.PopBlocked(blockedRecord_)) {
            if (stop_) {
                blockedEnded_ = true;
                return;
            }
            if (!IsOn(settings_.LogBlockedToVideo)) {
                while (queue_.PopBlocked(blockedRecord_)) {
                }
                break;
            }
            ShowBlocked(blockedRecord_);
            pacing_.sleep(ConsumerPacing::kRecordPause);
        }
    }
}

void PacketConsumers::ShowBlocked(const BlockedPacketView& record) {
    const BlockedTexts texts = FormatBlockedTexts(record, ProtocolName(record.packet.protocol));
    view_.AddLogEntry(ConsumerView::kBlocked, CLogListCtrl::kIconWarning, texts.logLine, record.packet.remoteAddress);
    switch (settings_.Popup.value.load()) {
        case kPopupBalloon:
            view_.ShowTrayBalloon(texts.popupTitle, texts.popupText);
            break;
        case kPopupNotifier:
            view_.ShowNotifier(texts.popupText);
            break;
        default:
            break;
    }
    if (IsOn(settings_.TrayBlinkingEnbaled)) view_.BlinkTrayIcon();
    view_.SetCounterText(ConsumerView::kBlocked,
                         CounterText(static_cast<std::int64_t>(statistics_.GetRunningBlocked()),
                                     statistics_.GetTotalBlocked()));
}

void PacketConsumers::GrantedConsumer() {
    for (;;) {
        if (WaitForObjects({&exit_, &grantedNotify_}, kInfinite) != kWaitObject0 + 1) {
            grantedEnded_ = true;
            return;
        }
        if (!IsOn(settings_.LogGrantedToVideo)) {
            while (queue_.PopGranted(grantedRecord_)) {
            }
            continue;
        }
        while (queue_.PopGranted(grantedRecord_)) {
            if (stop_) {
                grantedEnded_ = true;
                return;
            }
            if (!IsOn(settings_.LogGrantedToVideo)) {
                while (queue_.PopGranted(grantedRecord_)) {
                }
                break;
            }
            ShowGranted(grantedRecord_);
            pacing_.sleep(ConsumerPacing::kRecordPause);
        }
    }
}

void PacketConsumers::ShowGranted(const PacketEventRecord& record) {
    view_.AddLogEntry(ConsumerView::kGranted, CLogListCtrl::kIconInformation,
                      FormatGrantedLine(record, ProtocolName(record.protocol)), record.remoteAddress);
    view_.SetCounterText(ConsumerView::kGranted,
                         CounterText(static_cast<std::int64_t>(statistics_.GetRunningGranted()),
                                     statistics_.GetTotalGranted()));
}

void PacketConsumers::LampBlinker() {
    for (;;) {
        if (WaitForObjects({&exit_, &blink_}, kInfinite) != kWaitObject0 + 1) {
            lampEnded_ = true;
            return;
        }
        view_.SetLampState(kLampFlash);
        pacing_.sleep(ConsumerPacing::kLampFlash);
        view_.SetLampState(kLampFiltering);
    }
}

}  // namespace fv
