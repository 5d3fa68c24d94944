#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "fv_platform/Event.h"
#include "fv_platform/RecursiveMutex.h"
#include "fv_platform/Thread.h"
#include "fv_platform/TickCount.h"
#include "fv_platform/Wait.h"

namespace {

using namespace std::chrono_literals;
using fv::Event;
using fv::kWaitObject0;
using fv::kWaitTimeout;
using fv::WaitForObject;
using fv::WaitForObjects;

TEST(Event, AutoResetKeepsOneSignalHoweverOftenSet) {
    Event e(Event::Mode::AutoReset);
    e.Set();
    e.Set();
    e.Set();
    EXPECT_EQ(WaitForObject(e, 0), kWaitObject0);
    EXPECT_EQ(WaitForObject(e, 0), kWaitTimeout);
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    Event e(Event::Mode::ManualReset, true);
    EXPECT_EQ(WaitForObject(e, 0), kWaitObject0);
    EXPECT_EQ(WaitForObject(e, 0), kWaitObject0);
    e.Reset();
    EXPECT_EQ(WaitForObject(e, 0), kWaitTimeout);
}

TEST(Event, ResetOfAnAutoEventDropsThePendingSignal) {
    Event e;
    e.Set();
    e.Reset();
    EXPECT_EQ(WaitForObject(e, 0), kWaitTimeout);
}

TEST(Event, SetWithWaitersReleasesExactlyOne) {
    Event e;
    Event stop(Event::Mode::ManualReset);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (WaitForObjects({&e, &stop}, fv::kInfinite) == kWaitObject0) ++released;
        });
    }
    std::this_thread::sleep_for(50ms);
    e.Set();
    // Give every waiter the chance to (wrongly) wake.
    for (int i = 0; i < 100 && released.load() == 0; ++i) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(released.load(), 1);
    stop.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), 1);
}

TEST(Event, AdoptedDescriptorSharesTheSignal) {
    Event a;
    Event b = Event::Adopt(dup(a.Fd()), Event::Mode::AutoReset);
    a.Set();
    EXPECT_EQ(WaitForObject(b, 0), kWaitObject0);
    EXPECT_EQ(WaitForObject(a, 0), kWaitTimeout);
}

TEST(Wait, TimesOutAfterRoughlyTheTimeGiven) {
    Event e;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForObject(e, 30), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(Wait, LowestSignalledIndexWinsAndOnlyItsSignalIsTaken) {
    Event first;
    Event second;
    Event third;
    third.Set();
    second.Set();
    EXPECT_EQ(WaitForObjects({&first, &second, &third}, 0), kWaitObject0 + 1);
    EXPECT_EQ(WaitForObjects({&first, &second, &third}, 0), kWaitObject0 + 2);
    EXPECT_EQ(WaitForObjects({&first, &second, &third}, 0), kWaitTimeout);
}

TEST(Wait, WakesWhenAnotherThreadSets) {
    Event e;
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        e.Set();
    });
    EXPECT_EQ(WaitForObject(e, 5000), kWaitObject0);
    setter.join();
}

TEST(Thread, HandleIsSignalledWhenTheBodyReturns) {
    Event go;
    fv::Thread t([&] { WaitForObject(go, fv::kInfinite); });
    EXPECT_EQ(WaitForObject(t.Handle(), 20), kWaitTimeout);
    go.Set();
    EXPECT_EQ(WaitForObject(t.Handle(), 5000), kWaitObject0);
    EXPECT_EQ(WaitForObject(t.Handle(), 0), kWaitObject0);  // stays signalled
    t.Join();
}

TEST(Thread, AbandonedThreadFinishesOnItsOwn) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto go = std::make_shared<Event>();
    {
        fv::Thread t([done, go] {
            WaitForObject(*go, fv::kInfinite);
            *done = true;
        });
        t.Abandon();
    }
    go->Set();
    for (int i = 0; i < 500 && !*done; ++i) std::this_thread::sleep_for(2ms);
    EXPECT_TRUE(*done);
}

TEST(RecursiveMutex, TheHolderMayTakeItAgain) {
    fv::RecursiveMutex m;
    m.Lock();
    EXPECT_TRUE(m.TryLock());
    m.Unlock();
    m.Unlock();
    std::thread other([&] {
        EXPECT_TRUE(m.TryLock());
        m.Unlock();
    });
    other.join();
}

TEST(TickCount, MovesForwardInMilliseconds) {
    const std::uint32_t before = fv::TickCount();
    std::this_thread::sleep_for(20ms);
    const std::uint32_t elapsed = fv::TickCount() - before;  // by difference, across a wrap too
    EXPECT_GE(elapsed, 19u);
    EXPECT_LT(elapsed, 5000u);
}

}  // namespace
