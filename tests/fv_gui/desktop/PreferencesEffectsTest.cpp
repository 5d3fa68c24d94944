#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "fv_gui/dialogs/PreferencesEffects.h"
#include "fv_gui/settings/Settings.h"
#include "tests/fv_gui/TestFiles.h"

namespace {

using namespace fv::dialogs;

// Records what the command asks of the main window, in order.
class RecordingTarget : public PreferencesTarget {
public:
    bool adapter = true;
    bool session = true;
    bool logWriter = true;
    bool trayVisible = true;
    bool reloadMarked = false;
    std::vector<std::string> calls;

    bool AdapterSelected() const override { return adapter; }
    void ShowInformation(const std::string& text) override { calls.push_back("info:" + text); }
    void EnableTrayCommands(bool enable) override { calls.push_back(enable ? "tray:on" : "tray:grey"); }
    void SetPopupGaps(std::uint32_t ms) override { calls.push_back("gaps:" + std::to_string(ms)); }
    bool HasSession() const override { return session; }
    void SetGrantedCacheLimit(std::uint32_t limit) override { calls.push_back("cache:" + std::to_string(limit)); }
    bool TrayAlwaysVisible() const override { return trayVisible; }
    void SetTrayAlwaysVisible(bool on) override { calls.push_back(on ? "icon:add" : "icon:remove"); }
    bool HasLogWriter() const override { return logWriter; }
    void ChangeLogFolder(const std::string& folder) override { calls.push_back("folder:" + folder); }
    void ReportLoggingState() override { calls.push_back("report"); }
    void StopReloadTimer() override { calls.push_back("timer:stop"); }
    bool ReloadTimerMarked() const override { return reloadMarked; }
    void StartReloadTimer(std::uint32_t ms) override { calls.push_back("timer:" + std::to_string(ms)); }
    void PostRestoreLoggers() override { calls.push_back("loggers"); }
    void SetReportGranted(bool on) override { calls.push_back(on ? "granted:on" : "granted:off"); }
    void SetReportBlocked(bool on) override { calls.push_back(on ? "blocked:on" : "blocked:off"); }
};

class PreferencesEffectsTest : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    }
    fv::test::TempDir dir;
};

using Calls = std::vector<std::string>;

TEST_F(PreferencesEffectsTest, WithoutAnAdapterOnlyTheMessageShows) {
    fv::Settings settings("/usr/bin/ferrovane");
    RecordingTarget target;
    target.adapter = false;
    bool ran = false;
    EXPECT_FALSE(ShowPreferences(target, settings, [&] { return ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_EQ(target.calls, Calls{std::string("info:") + kSelectAdapterFirst});
}

TEST_F(PreferencesEffectsTest, AppliedSettingsReachTheRunningSystemInOrder) {
    fv::Settings settings("/usr/bin/ferrovane");
    settings.LogPath.Set("/var/log/fv/");
    settings.PopupTimeout.Set(5000);
    settings.LogCollectorLimit.Set(100);
    settings.LogGrantedToFile.Set(0);
    settings.TrayAlwaysVisible.Set(0);
    settings.AutoUpdateEnabled.Set(1);

    RecordingTarget target;
    EXPECT_TRUE(ShowPreferences(target, settings, [] { return true; }));
    EXPECT_EQ(target.calls, (Calls{"tray:grey", "gaps:5000", "cache:100", "icon:remove", "folder:/var/log/fv/",
                                   "report", "timer:120000", "loggers", "granted:off", "blocked:on", "tray:on"}));

    // No session: no cache, folder or switches; a marked timer is not started twice; the tray
    // icon is touched only when its flag changes; nothing logged to disk keeps the folder.
    settings.LogBlockedToFile.Set(0);
    RecordingTarget bare;
    bare.session = false;
    bare.logWriter = false;
    bare.trayVisible = false;
    bare.reloadMarked = true;
    ApplyPreferencesToSystem(bare, settings);
    EXPECT_EQ(bare.calls, (Calls{"gaps:5000", "report", "loggers"}));

    settings.AutoUpdateEnabled.Set(0);
    RecordingTarget writer;
    ApplyPreferencesToSystem(writer, settings);
    EXPECT_EQ(writer.calls, (Calls{"gaps:5000", "cache:100", "icon:remove", "report", "timer:stop", "loggers",
                                   "granted:off", "blocked:off"}));
}

TEST_F(PreferencesEffectsTest, CancelOnlyGreysAndRestoresTheTray) {
    fv::Settings settings("/usr/bin/ferrovane");
    RecordingTarget target;
    EXPECT_TRUE(ShowPreferences(target, settings, [] { return false; }));
    EXPECT_EQ(target.calls, (Calls{"tray:grey", "tray:on"}));
}

}  // namespace
