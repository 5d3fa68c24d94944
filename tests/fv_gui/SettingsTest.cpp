#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/fv_gui/TestFiles.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/registry/Registry.h"

namespace {

namespace reg = fv::registry;
using reg::Hive;

constexpr const char kSettings[] = "Software\\Ferrovane\\Settings";
constexpr const char kStats[] = "Software\\Ferrovane\\Stats";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        oldDirectory = std::filesystem::current_path();
    }
    void TearDown() override { std::filesystem::current_path(oldDirectory); }
    std::string Hkcu() const { return dir / "reg/HKCU.sqlite"; }
    std::string Desktop() const { return dir / "config/autostart/ferrovane.desktop"; }

    fv::test::TempDir dir;
    std::filesystem::path oldDirectory;
};

// Runs `body` as an unprivileged user when the test runs as root (root ignores file modes).
// Returns the child's exit status, 0 when every check in it held.
template <typename Body>
int AsUnprivileged(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST_F(RegistryTest, HiveFiles) {
    EXPECT_EQ(reg::HiveFile(Hive::CurrentUser), dir / "reg/HKCU.sqlite");
    EXPECT_EQ(reg::HiveFile(Hive::LocalMachine), dir / "reg/HKLM.sqlite");
    ::unsetenv("FERROVANE_REGISTRY_DIR");
    EXPECT_EQ(reg::HiveFile(Hive::CurrentUser), dir / "config/ferrovane/HKCU.sqlite");
    EXPECT_EQ(reg::HiveFile(Hive::LocalMachine), "/var/lib/ferrovane/HKLM.sqlite");
}

TEST_F(RegistryTest, ValuesKeysAndCase) {
    EXPECT_FALSE(reg::QueryDword(Hive::CurrentUser, kSettings, "Popup"));
    EXPECT_FALSE(reg::KeyExists(Hive::CurrentUser, kSettings));
    ASSERT_TRUE(reg::SetDword(Hive::CurrentUser, kSettings, "Popup", 0xA1B2C3D4u));
    ASSERT_TRUE(reg::SetString(Hive::CurrentUser, kSettings, "IPDB", "/tmp/list.p2p"));
    EXPECT_EQ(*reg::QueryDword(Hive::CurrentUser, "software\\FERROVANE\\settings\\", "POPUP"), 0xA1B2C3D4u);
    EXPECT_EQ(*reg::QueryString(Hive::CurrentUser, kSettings, "ipdb"), "/tmp/list.p2p");
    const auto raw = reg::QueryValue(Hive::CurrentUser, kSettings, "IPDB");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->type, reg::kTypeString);
    EXPECT_EQ(raw->data.size(), 14u);  // with its terminating zero
    EXPECT_EQ(reg::QueryValue(Hive::CurrentUser, kSettings, "Popup")->type, reg::kTypeDword);
    EXPECT_TRUE(reg::KeyExists(Hive::CurrentUser, "Software"));
    EXPECT_TRUE(reg::KeyExists(Hive::CurrentUser, "Software\\Ferrovane"));
    // Overwrite with another case of the name: one value.
    ASSERT_TRUE(reg::SetDword(Hive::CurrentUser, kSettings, "POPUP", 2));
    EXPECT_EQ(*reg::QueryDword(Hive::CurrentUser, kSettings, "Popup"), 2u);
    // The hives are separate.
    EXPECT_FALSE(reg::QueryDword(Hive::LocalMachine, kSettings, "Popup"));
    // A 32-bit read of a longer value fails; of a string of up to 4 bytes it succeeds.
    EXPECT_FALSE(reg::QueryDword(Hive::CurrentUser, kSettings, "IPDB"));
    ASSERT_TRUE(reg::SetString(Hive::CurrentUser, kSettings, "Short", "AB"));
    EXPECT_EQ(*reg::QueryDword(Hive::CurrentUser, kSettings, "Short"), 0x4241u);
}

TEST_F(RegistryTest, NotSqliteGivesDefaultsAndIsLeftAlone) {
    std::filesystem::create_directories(dir / "reg");
    const std::string garbage = "this is not a database\n" + std::string(5000, 'z');
    fv::test::WriteFile(Hkcu(), garbage);
    EXPECT_FALSE(reg::QueryDword(Hive::CurrentUser, kSettings, "Popup"));
    EXPECT_FALSE(reg::SetDword(Hive::CurrentUser, kSettings, "Popup", 2));
    {
        fv::Settings settings("/usr/bin/ferrovane");
        EXPECT_EQ(settings.Popup.value, 1u);
        EXPECT_EQ(settings.PopupTimeout.value, 120000u);
        settings.Popup.Set(2);
    }
    EXPECT_EQ(fv::test::ReadFile(Hkcu()), garbage);
}

TEST_F(RegistryTest, ReadOnlyHiveIsReadButNotWritten) {
    ASSERT_TRUE(reg::SetDword(Hive::CurrentUser, kSettings, "Popup", 2));
    ASSERT_TRUE(reg::SetDword(Hive::CurrentUser, kSettings, "PopupTimeout", 5000));
    std::filesystem::permissions(dir.Path(), std::filesystem::perms(0755));
    std::filesystem::permissions(dir / "reg", std::filesystem::perms(0755));
    std::filesystem::permissions(Hkcu(), std::filesystem::perms(0444));
    const std::string before = fv::test::ReadFile(Hkcu());
    const int status = AsUnprivileged([] {
        if (reg::QueryDword(Hive::CurrentUser, kSettings, "Popup").value_or(0) != 2) return 1;
        if (reg::SetDword(Hive::CurrentUser, kSettings, "Popup", 3)) return 2;
        {
            fv::Settings settings("/usr/bin/ferrovane");
            if (settings.Popup.value != 2 || settings.PopupTimeout.value != 5000) return 3;
            if (settings.LogCollectorLimit.value != 500) return 4;
            settings.Popup.Set(1);  // fails silently
        }
        if (reg::QueryDword(Hive::CurrentUser, kSettings, "Popup").value_or(0) != 2) return 5;
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(fv::test::ReadFile(Hkcu()), before);
}

TEST_F(RegistryTest, RunValueIsMirroredToAutostart) {
    ASSERT_TRUE(reg::SetString(Hive::CurrentUser, reg::kRunKey, "Ferrovane", "/opt/fv/ferrovane"));
    const std::string entry = fv::test::ReadFile(Desktop());
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=/opt/fv/ferrovane\n"), std::string::npos);
    ASSERT_TRUE(reg::SetString(Hive::CurrentUser, "software\\microsoft\\windows\\currentversion\\run", "FERROVANE",
                               "/opt/my apps/ferrovane"));
    EXPECT_NE(fv::test::ReadFile(Desktop()).find("\nExec=\"/opt/my apps/ferrovane\"\n"), std::string::npos);
    // Other values of the Run key and the machine's hive are not mirrored.
    ASSERT_TRUE(reg::SetString(Hive::CurrentUser, reg::kRunKey, "Other", ""));
    EXPECT_TRUE(std::filesystem::exists(Desktop()));
    ASSERT_TRUE(reg::SetString(Hive::CurrentUser, reg::kRunKey, "Ferrovane", ""));
    EXPECT_FALSE(std::filesystem::exists(Desktop()));
}

TEST_F(RegistryTest, FirstRunDefaultsAndWriteBack) {
    std::filesystem::create_directories(dir / "Tools");
    std::filesystem::current_path(dir / "Tools");
    {
        fv::Settings settings("/usr/bin/ferrovane");
        EXPECT_EQ(settings.IPDB.value, dir / "Tools/ridozeru.p2p");
        EXPECT_EQ(settings.LogPath.value, dir / "Tools/");
        EXPECT_EQ(settings.BaseLogFilename.value, "fvconns.log");
        EXPECT_EQ(settings.SelectedAdapter.value, "");
        EXPECT_EQ(settings.Popup.value, 1u);
        EXPECT_EQ(settings.PopupTimeout.value, 120000u);
        EXPECT_EQ(settings.LogBlockedToVideo.value, 1u);
        EXPECT_EQ(settings.LogGrantedToVideo.value, 1u);
        EXPECT_EQ(settings.LogBlockedToFile.value, 1u);
        EXPECT_EQ(settings.LogGrantedToFile.value, 1u);
        EXPECT_EQ(settings.LogCollectorLimit.value, 500u);
        EXPECT_EQ(settings.AutoStart.value, 0u);
        EXPECT_EQ(settings.LoadMinimized.value, 0u);
        EXPECT_EQ(settings.TrayAlwaysVisible.value, 1u);
        EXPECT_EQ(settings.TrayBlinkingEnabled.value, 1u);
        EXPECT_EQ(settings.AlwaysOnTop.value, 0u);
        EXPECT_EQ(settings.AutoUpdateEnabled.value, 0u);
        EXPECT_FALSE(settings.Popup.reg.Found());
    }
    const std::pair<const char*, std::uint32_t> written[] = {
        {"Popup", 1},          {"PopupTimeout", 120000},   {"LogBlockedToVideo", 1},
        {"LogGrantedToVideo", 1}, {"LogBlockedToFile", 1}, {"LogGrantedToFile", 1},
        {"LogCollectorLimit", 500}, {"TrayAlwaysVisible", 1}, {"TrayBlinkingEnbaled", 1}};
    for (const auto& [name, value] : written) {
        EXPECT_EQ(reg::QueryDword(Hive::CurrentUser, kSettings, name), value) << name;
    }
    for (const char* name : {"AutoStart", "LoadMinimized", "AlwaysOnTop", "AutoUpdateEnabled", "IPDB",
                             "LogPath", "BaseLogFilename", "SelectedAdapter"}) {
        EXPECT_FALSE(reg::QueryValue(Hive::CurrentUser, kSettings, name)) << name;
    }
}

// A first-run user who switches notifications off or asks for no gap keeps that choice.
TEST_F(RegistryTest, FirstRunChoiceOfZeroIsStored) {
    {
        fv::Settings settings("/usr/bin/ferrovane");
        settings.Popup.Set(0);
        settings.PopupTimeout.Set(0);
        settings.AutoStart.Set(0);
        EXPECT_EQ(reg::QueryDword(Hive::CurrentUser, kSettings, "Popup"), 0u);
    }
    fv::Settings next("/usr/bin/ferrovane");
    EXPECT_EQ(next.Popup.value, 0u);
    EXPECT_EQ(next.PopupTimeout.value, 0u);
    EXPECT_EQ(reg::QueryDword(Hive::CurrentUser, kSettings, "AutoStart"), 0u);
    // Defaults of 0 nobody chose are still left absent at exit.
    EXPECT_FALSE(reg::QueryValue(Hive::CurrentUser, kSettings, "LoadMinimized"));
}

TEST_F(RegistryTest, RootDirectoryGetsNoSecondSlash) {
    std::filesystem::current_path("/");
    fv::Settings settings("/usr/bin/ferrovane");
    EXPECT_EQ(settings.IPDB.value, "/ridozeru.p2p");
    EXPECT_EQ(settings.LogPath.value, "/");
}

TEST_F(RegistryTest, OnlyChangedValuesAreWrittenBack) {
    ASSERT_TRUE(reg::SetDword(Hive::CurrentUser, kSettings, "Popup", 2));
    ASSERT_TRUE(reg::SetDword(Hive::CurrentUser, kSettings, "PopupTimeout", 3000));
    {
        fv::Settings settings("/usr/bin/ferrovane");
        EXPECT_EQ(settings.Popup.value, 2u);
        EXPECT_TRUE(settings.Popup.reg.Found());
        settings.Popup.value = 0;
        settings.Popup.value = 2;                // changed back: not written
        settings.PopupTimeout.value = 4000;      // changed: written at exit
        // Someone else changes the stored values meanwhile.
        ASSERT_TRUE(reg::SetDword(Hive::CurrentUser, kSettings, "Popup", 7));
        ASSERT_TRUE(reg::SetDword(Hive::CurrentUser, kSettings, "AlwaysOnTop", 9));
        settings.IPDB.Set("/data/list.p2p");  // strings are written by Set at once
        EXPECT_EQ(*reg::QueryString(Hive::CurrentUser, kSettings, "IPDB"), "/data/list.p2p");
    }
    EXPECT_EQ(*reg::QueryDword(Hive::CurrentUser, kSettings, "Popup"), 7u);
    EXPECT_EQ(*reg::QueryDword(Hive::CurrentUser, kSettings, "PopupTimeout"), 4000u);
    EXPECT_EQ(*reg::QueryDword(Hive::CurrentUser, kSettings, "AlwaysOnTop"), 9u);  // 0 == last value 0
}

TEST_F(RegistryTest, RegistryDwordSplitsAndReads) {
    ASSERT_TRUE(reg::SetDword(Hive::LocalMachine, "Software\\X", "Y", 5));
    fv::RegistryDword value("\\Software\\X\\\\Y", 11, Hive::LocalMachine);
    EXPECT_EQ(value.Key(), "Software\\X");
    EXPECT_EQ(value.Name(), "Y");
    EXPECT_TRUE(value.Found());
    EXPECT_EQ(value.Get(), 5u);
    fv::RegistryDword missing("Software\\X\\Z", 11, Hive::LocalMachine);
    EXPECT_EQ(missing.Read(), 11u);
    EXPECT_EQ(missing.LastValue(), 0u);
    missing.Set(0);  // equal to the last value, but nothing is stored yet: written
    EXPECT_TRUE(missing.Found());
    EXPECT_EQ(*reg::QueryDword(Hive::LocalMachine, "Software\\X", "Z"), 0u);
    missing.Set(12);
    EXPECT_TRUE(missing.Found());
    EXPECT_EQ(*reg::QueryDword(Hive::LocalMachine, "Software\\X", "Z"), 12u);
}

TEST_F(RegistryTest, TotalsParseAndSave) {
    EXPECT_EQ(fv::ParseDecimalTotal("123abc"), 123);
    EXPECT_EQ(fv::ParseDecimalTotal(""), 0);
    EXPECT_EQ(fv::ParseDecimalTotal("abc"), 0);
    EXPECT_EQ(fv::ParseDecimalTotal("-42x"), -42);
    EXPECT_EQ(fv::ParseDecimalTotal("+7"), 7);
    EXPECT_EQ(fv::ParseDecimalTotal(" 5"), 0);
    ASSERT_TRUE(reg::SetString(Hive::LocalMachine, kStats, "TotalBlocked", "123abc"));
    ASSERT_TRUE(reg::SetString(Hive::LocalMachine, kStats, "TotalGranted", ""));
    {
        fv::PacketStatistics stats;
        EXPECT_EQ(stats.GetTotalBlocked(), 123);
        EXPECT_EQ(stats.GetTotalGranted(), 0);
    }
    ASSERT_TRUE(reg::SetString(Hive::LocalMachine, kStats, "TotalBlocked", "100"));
    ASSERT_TRUE(reg::SetString(Hive::LocalMachine, kStats, "TotalGranted", "200"));
    fv::PacketStatistics stats;
    for (int i = 0; i < 5; ++i) stats.CountBlocked();
    for (int i = 0; i < 7; ++i) stats.CountGranted();
    stats.Save();
    EXPECT_EQ(*reg::QueryString(Hive::LocalMachine, kStats, "TotalBlocked"), "105");
    EXPECT_EQ(*reg::QueryString(Hive::LocalMachine, kStats, "TotalGranted"), "207");
    EXPECT_EQ(stats.GetRunningBlocked(), 5u);  // left as they are
    EXPECT_EQ(stats.GetTotalBlocked(), 105);
    stats.ResetRunningBlocked();
    stats.ResetTotalBlocked();
    EXPECT_EQ(stats.GetRunningBlocked(), 0u);
    EXPECT_EQ(stats.GetTotalBlocked(), 0);
    EXPECT_EQ(stats.GetRunningGranted(), 7u);
}

TEST_F(RegistryTest, TotalsWithoutAStoredValue) {
    fv::PacketStatistics stats;
    EXPECT_EQ(stats.GetTotalBlocked(), 0);
    stats.CountGranted();
    stats.Save();
    EXPECT_EQ(*reg::QueryString(Hive::LocalMachine, kStats, "TotalGranted"), "1");
}

TEST_F(RegistryTest, CountersFromSeveralThreads) {
    fv::PacketStatistics stats;
    std::thread blocked([&] {
        for (int i = 0; i < 10000; ++i) stats.CountBlocked();
    });
    std::thread granted([&] {
        for (int i = 0; i < 10000; ++i) stats.CountGranted();
    });
    for (int i = 0; i < 1000; ++i) {
        stats.GetRunningBlocked();
        stats.GetTotalGranted();
    }
    blocked.join();
    granted.join();
    EXPECT_EQ(stats.GetRunningBlocked(), 10000u);
    EXPECT_EQ(stats.GetRunningGranted(), 10000u);
}

TEST_F(RegistryTest, SettingsAreReadByOtherThreadsWhileChanged) {
    fv::Settings settings("/usr/bin/ferrovane");
    std::atomic<bool> done{false};
    std::uint64_t seen = 0;
    std::thread reader([&] {
        while (!done.load()) seen += settings.LogBlockedToFile.value + settings.LogCollectorLimit.value;
    });
    for (std::uint32_t i = 0; i < 20000; ++i) {
        settings.LogBlockedToFile.value = i & 1;
        settings.LogCollectorLimit.value = i;
    }
    done.store(true);
    reader.join();
    (void)seen;  // the race, if any, is what the thread sanitizer build reports
}

TEST_F(RegistryTest, AutostartEntry) {
    fv::Settings settings("/usr/Bin/Ferrovane");
    EXPECT_EQ(settings.CheckAutostartEntry(), std::make_pair(false, std::string()));
    settings.SetAutostartEntry(true);
    EXPECT_EQ(*reg::QueryString(Hive::CurrentUser, reg::kRunKey, "Ferrovane"), "/usr/Bin/Ferrovane");
    EXPECT_NE(fv::test::ReadFile(Desktop()).find("Exec=/usr/Bin/Ferrovane\n"), std::string::npos);
    EXPECT_EQ(settings.CheckAutostartEntry(), std::make_pair(true, std::string()));
    ASSERT_TRUE(reg::SetString(Hive::CurrentUser, reg::kRunKey, "Ferrovane", "/USR/BIN/ferrovane"));
    EXPECT_EQ(settings.CheckAutostartEntry(), std::make_pair(true, std::string()));
    ASSERT_TRUE(reg::SetString(Hive::CurrentUser, reg::kRunKey, "Ferrovane", "/old/place/ferrovane"));
    const auto [on, message] = settings.CheckAutostartEntry();
    EXPECT_FALSE(on);
    EXPECT_EQ(message, fv::kAutostartInvalidMessage);
    settings.SetAutostartEntry(false);
    EXPECT_EQ(*reg::QueryString(Hive::CurrentUser, reg::kRunKey, "Ferrovane"), "");
    EXPECT_FALSE(std::filesystem::exists(Desktop()));
    EXPECT_FALSE(fv::ProgramPath().empty());
}

TEST_F(RegistryTest, FileChecks) {
    fv::Settings settings("/usr/bin/ferrovane");
    settings.IPDB.value = dir / "list.p2p";
    settings.LogPath.value = dir.Path() + "/";
    EXPECT_FALSE(settings.CheckBlocklistFile());
    EXPECT_FALSE(settings.CheckLogFile());
    fv::test::WriteFile(dir / "list.p2p", "x");
    fv::test::WriteFile(dir / "fvconns.log", "x");
    EXPECT_TRUE(settings.CheckBlocklistFile());
    EXPECT_TRUE(settings.CheckLogFile());
    const int holder = ::open((dir / "list.p2p").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_SH), 0);
    EXPECT_FALSE(settings.CheckBlocklistFile());  // no sharing allowed
    ::close(holder);
    EXPECT_TRUE(settings.CheckBlocklistFile());
}

// Runs `body` in a child process as `uid`:`gid` with `group` as its one supplementary group
// (when the test runs as root; otherwise as the current user). Returns the child's exit status.
template <typename Body>
int AsGroupMember(uid_t uid, gid_t group, Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(1, &group) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)) {
            ::_exit(90);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

// A writer killed in the middle of a transaction, with part of it already in the hive file.
void KillWriterMidTransaction(const std::string& hive) {
    const pid_t child = ::fork();
    if (child == 0) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(hive.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) ::_exit(1);
        // A tiny page cache makes the transaction spill into the file before its commit.
        sqlite3_exec(db, "PRAGMA cache_size=1; BEGIN IMMEDIATE;"
                         "UPDATE reg_value SET data = x'07000000' WHERE name = 'Popup';"
                         "INSERT INTO reg_value VALUES ('k', 'big', 3, zeroblob(2000000));",
                     nullptr, nullptr, nullptr);
        ::raise(SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

TEST_F(RegistryTest, HotJournalIsRolledBackNotReadAsDefaults) {
    ASSERT_TRUE(reg::SetDword(Hive::CurrentUser, kSettings, "Popup", 2));
    ASSERT_TRUE(reg::SetDword(Hive::CurrentUser, kSettings, "PopupTimeout", 5000));
    KillWriterMidTransaction(Hkcu());
    ASSERT_TRUE(std::filesystem::exists(Hkcu() + "-journal"));
    {
        fv::Settings settings("/usr/bin/ferrovane");
        EXPECT_EQ(settings.Popup.value, 2u);
        EXPECT_EQ(settings.PopupTimeout.value, 5000u);
    }
    EXPECT_EQ(reg::QueryDword(Hive::CurrentUser, kSettings, "Popup"), 2u);
    EXPECT_EQ(reg::QueryDword(Hive::CurrentUser, kSettings, "PopupTimeout"), 5000u);
    EXPECT_FALSE(reg::QueryValue(Hive::CurrentUser, "k", "big"));
}

TEST_F(RegistryTest, HiveUnreadableAtStartIsNotOverwrittenWithDefaults) {
    std::filesystem::create_directories(dir / "reg");
    if (::geteuid() == 0) {
        std::filesystem::permissions(dir.Path(), std::filesystem::perms(0755));
        ASSERT_EQ(::chown((dir / "reg").c_str(), 65534, 65534), 0);
    }
    const std::string hkcu = Hkcu();
    const std::string hklm = dir / "reg/HKLM.sqlite";
    const int status = AsGroupMember(65534, 65534, [&] {
        if (!reg::SetDword(Hive::CurrentUser, kSettings, "Popup", 2)) return 1;
        if (!reg::SetString(Hive::LocalMachine, kStats, "TotalBlocked", "100")) return 2;
        ::chmod(hkcu.c_str(), 0);
        ::chmod(hklm.c_str(), 0);
        {
            fv::Settings settings("/usr/bin/ferrovane");
            fv::PacketStatistics stats;
            if (settings.Popup.value != 1 || stats.GetTotalBlocked() != 0) return 3;
            stats.CountBlocked();
            // The hives become readable again before the program exits.
            ::chmod(hkcu.c_str(), 0644);
            ::chmod(hklm.c_str(), 0644);
            stats.Save();
        }
        if (reg::QueryDword(Hive::CurrentUser, kSettings, "Popup").value_or(0) != 2) return 4;
        // The session's count is added to the stored total, not written in its place.
        if (reg::QueryString(Hive::LocalMachine, kStats, "TotalBlocked").value_or("") != "101") return 5;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

// Runs `body` in a child process that a stuck call cannot keep waiting for ever; the child's
// exit status, 99 when it was ended (for example by the watchdog).
template <typename Body>
int InChild(Body body) {
    constexpr unsigned kWatchdogSeconds = 60;
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(kWatchdogSeconds);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

// The machine's hive lies in a folder every member of the group may write: a link planted there
// as the hive is not written through, a FIFO beside it not waited on; the folder's own path may
// still run through links.
TEST_F(RegistryTest, FilesPlantedInTheSharedFolderAreNotFollowed) {
    std::filesystem::create_directories(dir / "reg");
    std::filesystem::create_directories(dir / "victim");
    const std::string hklm = dir / "reg/HKLM.sqlite";
    const std::string victim = dir / "victim/HKCU.sqlite";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(victim.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE mine (x);", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string victimBytes = fv::test::ReadFile(victim);

    ASSERT_EQ(::symlink(victim.c_str(), hklm.c_str()), 0);
    EXPECT_FALSE(reg::SetString(Hive::LocalMachine, kStats, "TotalBlocked", "1"));
    EXPECT_TRUE(fv::test::ReadFile(victim) == victimBytes) << "the victim was written through the link";
    reg::Value value;
    EXPECT_EQ(reg::ReadValue(Hive::LocalMachine, kStats, "TotalBlocked", value), reg::ReadResult::Unreadable);

    ASSERT_EQ(::unlink(hklm.c_str()), 0);
    ASSERT_EQ(::symlink((dir / "victim/new.sqlite").c_str(), hklm.c_str()), 0);
    EXPECT_FALSE(reg::SetString(Hive::LocalMachine, kStats, "TotalBlocked", "1"));
    EXPECT_FALSE(std::filesystem::exists(dir / "victim/new.sqlite"));

    ASSERT_EQ(::unlink(hklm.c_str()), 0);
    ASSERT_TRUE(reg::SetString(Hive::LocalMachine, kStats, "TotalBlocked", "5"));
    ASSERT_EQ(::mkfifo((hklm + "-journal").c_str(), 0666), 0);
    EXPECT_EQ(InChild([] {
                  reg::Value read;
                  if (reg::ReadValue(Hive::LocalMachine, kStats, "TotalBlocked", read) !=
                      reg::ReadResult::Unreadable) {
                      return 1;
                  }
                  return reg::SetString(Hive::LocalMachine, kStats, "TotalBlocked", "6") ? 2 : 0;
              }),
              0);
    ASSERT_EQ(::unlink((hklm + "-journal").c_str()), 0);

    ASSERT_EQ(::symlink((dir / "reg").c_str(), (dir / "linked").c_str()), 0);
    ::setenv("FERROVANE_REGISTRY_DIR", (dir / "linked").c_str(), 1);
    EXPECT_TRUE(reg::SetString(Hive::LocalMachine, kStats, "TotalBlocked", "7"));
    EXPECT_EQ(reg::QueryString(Hive::LocalMachine, kStats, "TotalBlocked"), "7");
}

TEST_F(RegistryTest, MachineHiveInASetgidFolderIsGroupWritable) {
    std::filesystem::create_directories(dir / "reg");
    ASSERT_EQ(::chmod((dir / "reg").c_str(), 02775), 0);
    ASSERT_TRUE(reg::SetString(Hive::LocalMachine, kStats, "TotalBlocked", "1"));
    struct stat info {};
    ASSERT_EQ(::stat((dir / "reg/HKLM.sqlite").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0664u);
}

TEST_F(RegistryTest, EveryMemberOfTheGroupSavesTheTotals) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
    constexpr gid_t kGroup = 4242;
    std::filesystem::permissions(dir.Path(), std::filesystem::perms(0755));
    std::filesystem::create_directories(dir / "reg");
    ASSERT_EQ(::chown((dir / "reg").c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod((dir / "reg").c_str(), 02775), 0);
    auto saveCounts = [](int count) {
        return [count] {
            fv::PacketStatistics stats;
            for (int i = 0; i < count; ++i) stats.CountBlocked();
            stats.Save();
            return 0;
        };
    };
    EXPECT_EQ(AsGroupMember(65534, kGroup, saveCounts(1)), 0);
    EXPECT_EQ(AsGroupMember(65533, kGroup, saveCounts(2)), 0);
    EXPECT_EQ(reg::QueryString(Hive::LocalMachine, kStats, "TotalBlocked"), "3");
}

}  // namespace
