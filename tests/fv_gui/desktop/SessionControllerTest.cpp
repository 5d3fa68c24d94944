// The session controller without a window, against the driver hosted on a simulated adapter:
// what the consumers show after the session was replaced or restarted, a replacement that cannot
// open, and commands that arrive while another one waits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "fv_gui/app/BlocklistWatch.h"
#include "fv_gui/app/PacketConsumers.h"
#include "fv_gui/app/SessionController.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/NamedEvents.h"
#include "tests/fv_gui/ClientFixture.h"
#include "tests/fv_gui/HostedDriver.h"
#include "tests/fv_gui/desktop/EventWait.h"
#include "tests/fv_gui/desktop/ProgramFolders.h"

namespace {

using namespace fv::test;
namespace texts = fv::texts;

constexpr const char kAdapter[] = "eth0";

std::uint32_t Address(int a, int b, int c, int d) {
    return static_cast<std::uint32_t>((a << 24) | (b << 16) | (c << 8) | d);
}

// Keeps the blocked counter's texts; the consumers call it from their threads.
class CounterView final : public fv::ConsumerView {
public:
    void AddLogEntry(int, int, const std::string&, std::uint32_t) override {}
    void SetCounterText(int kind, const std::string& text) override {
        std::lock_guard lock(mutex_);
        if (kind == kBlocked) blocked_.push_back(text);
    }
    void ShowTrayBalloon(const std::string&, const std::string&) override {}
    void ShowNotifier(const std::string&) override {}
    void BlinkTrayIcon() override {}
    void SetLampState(int) override {}
    void EnableAdapterSelector(bool) override {}

    std::size_t BlockedUpdates() {
        std::lock_guard lock(mutex_);
        return blocked_.size();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> blocked_;
};

class SessionControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareProgramFolders(dir.Path(), Blocklist());
        driver = std::make_unique<HostedDriver>(dir / "dev");
        ASSERT_TRUE(driver->Loaded());
        driver->Add(kAdapter);
        settings = std::make_unique<fv::Settings>(dir / "program");
        settings->IPDB.Set(Blocklist());
        settings->LogPath.Set(dir / "logs/");
        settings->SelectedAdapter.Set(kAdapter);
        settings->Popup.Set(0);
        settings->LogBlockedToVideo.Set(1);
    }
    void TearDown() override {
        controller.reset();
        driver.reset();
        for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
            fv::ReleaseNamedEvent(name);
        }
    }

    // Start-up as the window runs it, up to an open session with filtering off.
    fv::SessionController& Open() {
        controller = std::make_unique<fv::SessionController>(*settings, sink, view, [this](std::uint32_t) {
            events.push_back("sleep");
            if (duringSleep) duringSleep();
        });
        QObject::connect(controller.get(), &fv::SessionController::StatusReported,
                         [this](fv::StatusKind, const std::string& text) { rows.push_back(text); });
        QObject::connect(controller.get(), &fv::SessionController::TableReady,
                         [this](bool ready) { events.push_back(ready ? "ready" : "not ready"); });
        QObject::connect(controller.get(), &fv::SessionController::FilteringStarted, [this] { events.push_back("started"); });
        QObject::connect(controller.get(), &fv::SessionController::FilteringStopped, [this] { events.push_back("stopped"); });
        QObject::connect(controller.get(), &fv::SessionController::StopSettled, [this] { events.push_back("settled"); });
        EXPECT_TRUE(controller->ClaimInstance());
        EXPECT_TRUE(controller->ProbeDriver());
        controller->CreateConsumers();
        controller->OpenStored();
        EXPECT_NE(controller->Session(), nullptr);
        return *controller;
    }

    // A TCP packet to `remote` leaves the workstation; true once the blocked counter moved.
    bool BlockedPacketShows(std::uint32_t remote) {
        const std::size_t before = view.BlockedUpdates();
        driver->Stack().Send(HostedDriver::Outgoing(remote, IPPROTO_TCP, 1025, 80));
        return WaitFor([&] { return view.BlockedUpdates() > before; });
    }

    bool HasRow(const std::string& text) const { return std::find(rows.begin(), rows.end(), text) != rows.end(); }
    std::string Blocklist() const { return dir / "list.p2p"; }

    TempDir dir;
    RecordingSink sink;
    CounterView view;
    std::unique_ptr<HostedDriver> driver;
    std::unique_ptr<fv::Settings> settings;
    std::unique_ptr<fv::SessionController> controller;
    std::vector<std::string> rows;
    std::vector<std::string> events;
    std::function<void()> duringSleep;
};

TEST_F(SessionControllerTest, AReloadWhileFilteringFiltersWithTheNewTableAndItsPacketsStillShow) {
    fv::SessionController& session = Open();
    session.ToggleFiltering();
    ASSERT_TRUE(session.Session()->FilteringOn());
    ASSERT_TRUE(BlockedPacketShows(Address(203, 0, 113, 5)));

    WriteFile(Blocklist(), "Fresh Net:10.9.8.0-10.9.8.255\r\n");
    events.clear();
    session.Reload();
    ASSERT_NE(session.Session(), nullptr);
    EXPECT_TRUE(session.Session()->FilteringOn());
    EXPECT_EQ(session.Session()->Blocklist()->RangeCount(), 1);
    EXPECT_EQ(events, (std::vector<std::string>{"stopped", "settled", "not ready", "started", "ready"}));
    // The consumers were stopped with the old session: they must serve the new one.
    EXPECT_TRUE(BlockedPacketShows(Address(10, 9, 8, 7)));
}

TEST_F(SessionControllerTest, StopThenStartShowsPacketsAgainAndTheTraySettlesAfterThePause) {
    fv::SessionController& session = Open();
    session.ToggleFiltering();
    ASSERT_TRUE(session.Session()->FilteringOn());
    events.clear();
    session.ToggleFiltering();
    EXPECT_FALSE(session.Session()->FilteringOn());
    EXPECT_EQ(events, (std::vector<std::string>{"stopped", "sleep", "settled"}));
    EXPECT_EQ(rows.back(), texts::kStopped);

    session.ToggleFiltering();
    ASSERT_TRUE(session.Session()->FilteringOn());
    EXPECT_EQ(rows.back(), texts::kStarted);
    EXPECT_TRUE(BlockedPacketShows(Address(203, 0, 113, 9)));
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SessionControllerTest, AReplacementThatCannotOpenHoldsNothingAndSaysSo) {
    fv::SessionController& session = Open();
    session.ToggleFiltering();
    ASSERT_TRUE(session.Session()->FilteringOn());
    std::filesystem::remove(Blocklist());
    events.clear();
    session.Reload();

    EXPECT_TRUE(HasRow(texts::kBadInstallation));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, texts::kDriverNotLoadedBox);
    // Nothing left half open in the driver, and nothing for Start to act on.
    EXPECT_EQ(events.back(), "not ready");
    ASSERT_NE(session.Session(), nullptr);
    EXPECT_FALSE(session.Session()->FilteringOn());
    EXPECT_FALSE(session.Session()->AdapterHandleOpen());
    EXPECT_FALSE(session.Session()->EventsHeld());

    // Once the file is back, a reload brings filtering back.
    WriteFile(Blocklist(), "Listed Net:203.0.113.0-203.0.113.255\r\n");
    session.Reload();
    EXPECT_TRUE(session.Session()->FilteringOn());
    EXPECT_EQ(events.back(), "ready");
    EXPECT_TRUE(BlockedPacketShows(Address(203, 0, 113, 11)));
}

TEST_F(SessionControllerTest, CommandsArrivingDuringAStopAreTurnedAwayAndAFileChangeWaitsItsTurn) {
    fv::SessionController& session = Open();
    session.ToggleFiltering();
    ASSERT_TRUE(session.Session()->FilteringOn());
    fv::DriverSession* const before = session.Session();
    auto* watch = session.findChild<fv::BlocklistWatch*>();
    ASSERT_NE(watch, nullptr);
    bool changeSeen = false;
    QObject::connect(watch, &fv::BlocklistWatch::Changed, [&] { changeSeen = true; });
    bool chooserAsked = false;
    duringSleep = [&] {
        // What the event loop may deliver while the stop waits: a reload tick, a load, a second
        // toggle, and the news that the blocklist file changed on disk.
        session.Reload();
        session.Load([&] {
            chooserAsked = true;
            return std::string();
        });
        session.ToggleFiltering();
        WriteFile(Blocklist(), "Listed Net:203.0.113.0-203.0.113.255\r\n");
        ASSERT_TRUE(WaitFor([&] { return changeSeen; }));
    };
    const std::size_t rowsBefore = rows.size();
    session.ToggleFiltering();
    EXPECT_EQ(session.Session(), before);
    EXPECT_FALSE(session.Session()->FilteringOn());
    EXPECT_FALSE(chooserAsked);
    EXPECT_EQ(std::vector<std::string>(rows.begin() + static_cast<long>(rowsBefore), rows.end()),
              (std::vector<std::string>{texts::kStopping, texts::kStopped}));

    // The change was put off, not lost: it goes in once the stop is over.
    ASSERT_TRUE(WaitFor([&] { return HasRow("There are 256 known IPs in 1 ranges."); }));
    EXPECT_EQ(session.Session(), before);
    EXPECT_EQ(session.Session()->Blocklist()->RangeCount(), 1);
}

}  // namespace
