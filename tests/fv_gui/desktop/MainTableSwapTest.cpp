// The main window when its blocklist file is replaced on disk (as a list update does): the new
// table goes in without the session being replaced or filtering stopped, a file that cannot be
// used leaves the old table in force, and the status rows tell which happened.
#include <filesystem>

#include "tests/fv_gui/HostedDriver.h"
#include "tests/fv_gui/desktop/MainWindowFixture.h"

namespace {

using namespace fv::test;

constexpr const char kAdapter[] = "eth0";
constexpr std::uint8_t kTcp = 6;
constexpr std::uint32_t kListedBefore = Address(203, 0, 113, 9);
constexpr std::uint32_t kListedAfter = Address(192, 0, 2, 44);
constexpr char kKeptRow[] = "The changed IP table could not be put in force; the previous one still is.";

class MainTableSwapTest : public MainWindowFixture {
protected:
    void StartWith(bool autoStart) {
        driver = std::make_unique<HostedDriver>(dir / "dev");
        ASSERT_TRUE(driver->Loaded());
        driver->Add(kAdapter);
        Configure([&](fv::Settings& s) {
            s.SelectedAdapter.Set(kAdapter);
            s.AutoStart.Set(autoStart ? 1 : 0);
        });
        Start();
        ASSERT_NE(window->Controller().Session(), nullptr);
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        driver.reset();
    }
    // As a list update writes it: beside the file, then renamed over it.
    void Publish(const std::string& content) {
        WriteFile(Blocklist() + ".new", content);
        std::filesystem::rename(Blocklist() + ".new", Blocklist());
    }
    bool Passes(std::uint32_t remote) {
        const auto before = driver->Adapter().SentCount();
        driver->Stack().Send(HostedDriver::Outgoing(remote, kTcp, 40000, 443));
        return driver->Adapter().SentCount() != before;
    }
    std::string UpdatedRow() const { return "IP table updated from \"" + Blocklist() + "\"."; }

    std::unique_ptr<HostedDriver> driver;
};

TEST_F(MainTableSwapTest, AnUpdatedFileGoesInWhileFilteringStaysOn) {
    StartWith(true);
    ASSERT_TRUE(window->Controller().Session()->FilteringOn());
    fv::DriverSession* session = window->Controller().Session();
    ASSERT_TRUE(Passes(kListedAfter));
    Publish("Listed Net:203.0.113.0-203.0.113.255\r\nNew Net:192.0.2.0-192.0.2.255\r\n");
    ASSERT_TRUE(WaitFor([&] { return HasStatus(UpdatedRow()); })) << StatusTexts().back();
    EXPECT_EQ(StatusTexts().back(), "There are 512 known IPs in 2 ranges.");
    EXPECT_EQ(window->Controller().Session(), session);
    EXPECT_TRUE(session->FilteringOn());
    EXPECT_FALSE(Passes(kListedAfter));
    EXPECT_FALSE(Passes(kListedBefore));
    EXPECT_TRUE(sink.messages.empty());

    // A file that cannot be used: the table in force stays, and the rows say why.
    Publish("");
    ASSERT_TRUE(WaitFor([&] { return HasStatus(kKeptRow); })) << StatusTexts().back();
    EXPECT_EQ(StatusTexts().back(), "The blocklist " + Blocklist() + " lists no address range.");
    EXPECT_TRUE(session->FilteringOn());
    EXPECT_FALSE(Passes(kListedAfter));
}

// Stopped, the update goes into the open session: the next Start filters with it.
TEST_F(MainTableSwapTest, AnUpdateWhileStoppedIsWhatTheNextStartFiltersWith) {
    StartWith(false);
    ASSERT_FALSE(window->Controller().Session()->FilteringOn());
    Publish("New Net:192.0.2.0-192.0.2.255\r\n");
    ASSERT_TRUE(WaitFor([&] { return HasStatus(UpdatedRow()); })) << StatusTexts().back();
    EXPECT_FALSE(window->Controller().Session()->FilteringOn());
    window->ToggleFiltering();
    ASSERT_TRUE(window->Controller().Session()->FilteringOn());
    EXPECT_FALSE(Passes(kListedAfter));
    EXPECT_TRUE(Passes(kListedBefore));
}

}  // namespace
