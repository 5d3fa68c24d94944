// The main window's rows on the subscribed lists, after the table's own rows.
#include <ctime>

#include "fv_lists/ListPaths.h"
#include "fv_lists/ListState.h"
#include "tests/fv_gui/HostedDriver.h"
#include "tests/fv_gui/desktop/MainWindowFixture.h"

namespace {

using namespace fv::test;

class ListFreshnessRowsTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        paths = fv::lists::ListPaths::FromEnvironment();
        driver = std::make_unique<HostedDriver>(dir / "dev");
        ASSERT_TRUE(driver->Loaded());
        driver->Add("eth0");
        const std::int64_t now = std::time(nullptr);
        std::filesystem::create_directories(dir / "config/ferrovane");
        std::filesystem::create_directories(dir / "data/ferrovane");
        WriteFile(paths.configFile, "http://127.0.0.1:9/fresh every=12h label=Hostile\nhttp://127.0.0.1:9/old\n");
        fv::lists::ListsState state;
        state.merge = {now - 3 * 3600, 2, false, 0};
        state.At("http://127.0.0.1:9/fresh") = {"http://127.0.0.1:9/fresh", now - 3 * 3600, now - 3 * 3600, now - 3 * 3600, 1, 0, 0, "", "", ""};
        state.At("http://127.0.0.1:9/old") = {"http://127.0.0.1:9/old", now, now - 4 * 24 * 3600, now - 5 * 24 * 3600, 1, 0, 1, "HTTP status 500", "", ""};
        WriteFile(paths.stateFile, fv::lists::FormatState(state));
        WriteFile(paths.mergedFile, "Hostile        :203.0.113.0-203.0.113.255\n127.0.0.1      :198.51.100.7-198.51.100.9\n");
        Configure([&](fv::Settings& s) { s.SelectedAdapter.Set("eth0"); });
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        driver.reset();
        ::unsetenv("XDG_DATA_HOME");
    }

    fv::lists::ListPaths paths;
    std::unique_ptr<HostedDriver> driver;
};

TEST_F(ListFreshnessRowsTest, TheMergedTableShowsEachListsAgeAndStaleness) {
    Configure([&](fv::Settings& s) { s.IPDB.Set(paths.mergedFile); });
    Start();
    const auto rows = StatusTexts();
    ASSERT_GE(rows.size(), 4u);
    EXPECT_EQ(rows[rows.size() - 4], "There are 259 known IPs in 2 ranges.");
    EXPECT_EQ(rows[rows.size() - 3], "List \"Hostile\": updated 3h ago, 1 ranges");
    EXPECT_EQ(rows[rows.size() - 2],
              "List \"127.0.0.1:9\": STALE, updated 4d ago, 1 ranges; last attempt failed: HTTP status 500");
    EXPECT_EQ(rows.back(), "Lists merged 3h ago: 2 ranges");
}

TEST_F(ListFreshnessRowsTest, AnotherTableGetsNoListRows) {
    Start();
    EXPECT_EQ(StatusTexts().back(), "There are 259 known IPs in 2 ranges.");
}

}  // namespace
