#include "fv_gui/app/PacketConsumers.h"

#include <arpa/inet.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tests/fv_gui/TestFiles.h"

namespace fv {
namespace {

using namespace std::chrono_literals;

struct Row {
    int kind;
    int icon;
    std::string text;
    std::uint32_t address;
};

// Records what the consumers ask for; thread-safe.
class FakeView : public ConsumerView {
public:
    void AddLogEntry(int kind, int icon, const std::string& text, std::uint32_t address) override {
        Record([&] { rows.push_back({kind, icon, text, address}); });
    }
    void SetCounterText(int kind, const std::string& text) override {
        Record([&] { counters.emplace_back(kind, text); });
    }
    void ShowTrayBalloon(const std::string& title, const std::string& text) override {
        Record([&] { balloons.emplace_back(title, text); });
    }
    void ShowNotifier(const std::string& text) override {
        Record([&] { notifiers.push_back(text); });
    }
    void BlinkTrayIcon() override {
        Record([&] { ++blinks; });
    }
    void SetLampState(int state) override {
        Record([&] { lamp.push_back(state); });
    }
    void EnableAdapterSelector(bool enable) override {
        Record([&] { selector.push_back(enable); });
    }

    // Waits (at most 10 s) until `done` holds, under the view's lock.
    template <typename Done>
    bool WaitFor(Done done) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, done);
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Row> rows;
    std::vector<std::pair<int, std::string>> counters;
    std::vector<std::pair<std::string, std::string>> balloons;
    std::vector<std::string> notifiers;
    int blinks = 0;
    std::vector<int> lamp;
    std::vector<bool> selector;

protected:
    template <typename Change>
    void Record(Change change) {
        {
            std::lock_guard lock(mutex);
            change();
        }
        changed.notify_all();
    }
};

BlockedPacketView Blocked(std::uint8_t direction, std::uint8_t protocol, std::uint16_t source, std::uint16_t destination) {
    BlockedPacketView view{};
    view.packet.remoteAddress = 0x0A000001;
    view.packet.firstPort = htons(source);
    view.packet.secondPort = htons(destination);
    view.packet.direction = direction;
    view.packet.protocol = protocol;
    std::strcpy(view.description, "Example");
    std::strcpy(view.addressText, "10.0.0.1");
    return view;
}

class PacketConsumersTest : public ::testing::Test {
protected:
    PacketConsumersTest() {
        ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        settings.emplace();
        statistics.emplace();
        settings->LogBlockedToVideo.value = 1;
        settings->LogGrantedToVideo.value = 1;
        settings->Popup.value = 0;
        settings->TrayBlinkingEnbaled.value = 0;
    }
    ~PacketConsumersTest() override {
        consumers.reset();
        statistics.reset();
        settings.reset();
    }

    // Pauses are counted, not slept; `holdRecordPause` keeps each record's pause going until a
    // stop is requested.
    void Create(ConsumerView& v, bool holdRecordPause = false) {
        ConsumerPacing pacing;
        pacing.sleep = [this, holdRecordPause](std::chrono::milliseconds d) {
            if (d != ConsumerPacing::kRecordPause) return;
            ++recordPauses;
            while (holdRecordPause && !consumers->StopRequested()) std::this_thread::yield();
        };
        consumers.emplace(queue, *settings, *statistics, v, std::move(pacing));
    }
    void PushBlocked(const BlockedPacketView& view, int count = 1) {
        for (int i = 0; i < count; ++i) queue.PushBlocked(view);
        consumers->BlockedNotifyEvent().Set();
    }
    bool QueueHoldsBlocked() {
        BlockedPacketView out;
        return queue.PopBlocked(out);
    }

    test::TempDir dir;
    std::optional<Settings> settings;
    std::optional<PacketStatistics> statistics;
    PacketRecordQueue queue;
    FakeView view;
    std::atomic<int> recordPauses{0};
    std::optional<PacketConsumers> consumers;
};

TEST_F(PacketConsumersTest, BlockedAndGrantedRecordsBecomeRowsAndCounters) {
    settings->TrayBlinkingEnbaled.value = 1;
    Create(view);
    consumers->StartConsumers();
    statistics->CountBlocked();
    PushBlocked(Blocked(1, 6, 1025, 80));
    PacketEventRecord granted{};
    granted.remoteAddress = 0xC0A80001;
    granted.firstPort = htons(53);
    granted.direction = 0;
    granted.protocol = 17;
    statistics->CountGranted();
    statistics->CountGranted();
    queue.PushGranted(granted);
    consumers->GrantedNotifyEvent().Set();

    ASSERT_TRUE(view.WaitFor([&] { return view.counters.size() == 2 && view.lamp.size() == 2; }));
    consumers->StopConsumers();
    ASSERT_EQ(view.rows.size(), 2u);
    const Row& blocked = view.rows[0].kind == ConsumerView::kBlocked ? view.rows[0] : view.rows[1];
    const Row& grantedRow = view.rows[0].kind == ConsumerView::kGranted ? view.rows[0] : view.rows[1];
    EXPECT_EQ(blocked.text, "Packet to  \"Example\" ( 10.0.0.1 ) blocked. [protocol: TCP - src: 1025 / dst: 80]");
    EXPECT_EQ(blocked.icon, 2);
    EXPECT_EQ(blocked.address, 0x0A000001u);
    EXPECT_EQ(grantedRow.text, "Packet from  \" 192.168.0.1 \" granted. [protocol: UDP - src: 53 / dst: --]");
    EXPECT_EQ(grantedRow.icon, 0);
    EXPECT_EQ(grantedRow.address, 0xC0A80001u);
    EXPECT_EQ(view.blinks, 1);
    EXPECT_EQ(view.lamp, (std::vector<int>{3, 2}));
    for (const auto& [kind, text] : view.counters) EXPECT_EQ(text, kind == ConsumerView::kBlocked ? "1 / 1" : "2 / 2");
    EXPECT_EQ(view.selector, (std::vector<bool>{false, true}));
}

TEST_F(PacketConsumersTest, PopupSettingPicksTheNotifier) {
    Create(view);
    consumers->StartConsumers();
    for (std::uint32_t popup : {0u, 1u, 2u, 7u}) {
        settings->Popup.value = popup;
        const std::size_t before = view.rows.size();
        PushBlocked(Blocked(0, 1, 0, 0));
        ASSERT_TRUE(view.WaitFor([&] { return view.counters.size() == before + 1; }));
    }
    // Unknown direction: still a row, and a balloon titled but empty.
    settings->Popup.value = 1;
    PushBlocked(Blocked(9, 6, 1, 2));
    ASSERT_TRUE(view.WaitFor([&] { return view.counters.size() == 5; }));
    consumers->StopConsumers();

    ASSERT_EQ(view.balloons.size(), 2u);
    EXPECT_EQ(view.balloons[0].first, "Ferrovane - Incoming packet");
    EXPECT_EQ(view.balloons[0].second,
              "A packet from \"Example\" (10.0.0.1) has been rejected!\r\nIncoming via \"ICMP\" [src: -- / dst: --]");
    EXPECT_EQ(view.balloons[1], (std::pair<std::string, std::string>("No direction??", "")));
    ASSERT_EQ(view.notifiers.size(), 1u);
    EXPECT_EQ(view.notifiers[0], view.balloons[0].second);
    EXPECT_EQ(view.rows.back().text.rfind("<NO_DIR!> \"Example\" ( 10.0.0.1 ) <NO_POST_MSG!>.", 0), 0u);
    EXPECT_EQ(view.blinks, 0);
}

TEST_F(PacketConsumersTest, VideoOffDiscardsWithoutPausingButTheLampStillFlashesOnce) {
    settings->LogBlockedToVideo.value = 0;
    settings->Popup.value = 1;
    settings->TrayBlinkingEnbaled.value = 1;
    Create(view);
    consumers->StartConsumers();
    PushBlocked(Blocked(1, 6, 1, 2), 5);
    // The flash comes from the wake-up itself; the consumer discards before it waits again.
    ASSERT_TRUE(view.WaitFor([&] { return view.lamp.size() == 2; }));
    consumers->StopConsumers();
    EXPECT_FALSE(QueueHoldsBlocked());
    EXPECT_TRUE(view.rows.empty());
    EXPECT_TRUE(view.balloons.empty());
    EXPECT_TRUE(view.counters.empty());
    EXPECT_EQ(view.blinks, 0);
    EXPECT_EQ(recordPauses, 0);
    EXPECT_EQ(view.lamp, (std::vector<int>{3, 2}));
}

TEST_F(PacketConsumersTest, StopDuringABurstEndsBeforeTheNextRecord) {
    Create(view, true);
    consumers->StartConsumers();
    PushBlocked(Blocked(1, 6, 1, 2), 10);
    ASSERT_TRUE(view.WaitFor([&] { return view.rows.size() == 1; }));
    consumers->StopConsumers();
    EXPECT_EQ(view.rows.size(), 1u);
    EXPECT_FALSE(consumers->Running());
    EXPECT_TRUE(QueueHoldsBlocked());  // the rest waits for the next start's clear
}

// A view that hands each row to the window's thread and waits for it there, as a window that
// sets its labels synchronously would.
class BlockingView : public FakeView {
public:
    void AddLogEntry(int kind, int icon, const std::string& text, std::uint32_t address) override {
        Record([&] { ++waiting; });
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { FakeView::AddLogEntry(kind, icon, text, address); },
            Qt::BlockingQueuedConnection);
    }
    int waiting = 0;
};

TEST_F(PacketConsumersTest, StopKeepsTheWindowThreadsEventsFlowing) {
    BlockingView blocking;
    Create(blocking);
    consumers->StartConsumers();
    PushBlocked(Blocked(1, 6, 1, 2), 3);
    ASSERT_TRUE(blocking.WaitFor([&] { return blocking.waiting == 1; }));
    consumers->StopConsumers();  // a plain join would never return
    EXPECT_EQ(blocking.rows.size(), 1u);
}

TEST_F(PacketConsumersTest, StartingAgainStopsTheEarlierConsumers) {
    Create(view);
    consumers->StartConsumers();
    consumers->StartConsumers();
    consumers->StopConsumers();
    EXPECT_FALSE(consumers->Running());
    PushBlocked(Blocked(1, 6, 1, 2));
    std::this_thread::sleep_for(100ms);  // time for a forgotten consumer to take it
    EXPECT_TRUE(view.rows.empty());
    EXPECT_TRUE(QueueHoldsBlocked());
    EXPECT_EQ(view.selector.back(), true);

    consumers->StartConsumers();
    PushBlocked(Blocked(1, 6, 1, 2));
    EXPECT_TRUE(view.WaitFor([&] { return view.rows.size() == 1; }));
    consumers->StopConsumers();
}

}  // namespace
}  // namespace fv
