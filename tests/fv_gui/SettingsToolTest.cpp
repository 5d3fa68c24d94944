// ferrovane-settings run as a program: its exit status tells a script whether what it asked
// for was done.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fv_gui/TestFiles.h"
#include "fv_platform/registry/Registry.h"

namespace {

namespace reg = fv::registry;
using reg::Hive;

constexpr const char kSettings[] = "Software\\Ferrovane\\Settings";

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

class SettingsToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    }

    ToolRun Tool(const std::vector<std::string>& arguments) {
        const std::string out = dir / "out";
        const std::string err = dir / "err";
        const pid_t child = ::fork();
        if (child == 0) {
            const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0) ::_exit(127);
            std::vector<char*> argv{const_cast<char*>(FV_SETTINGS_TOOL)};
            for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            ::execv(FV_SETTINGS_TOOL, argv.data());
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                fv::test::ReadFile(out), fv::test::ReadFile(err)};
    }

    fv::test::TempDir dir;
};

TEST_F(SettingsToolTest, NumbersAreDecimalDigitsWithinThirtyTwoBits) {
    ASSERT_EQ(Tool({"Popup=2"}).status, 0);
    for (const char* text : {"-18446744073709551615", "-1", "+5", " 5", "5 ", "", "0x10",
                             "4294967296", "18446744073709551617", "99999999999999999999999"}) {
        const ToolRun run = Tool({std::string("Popup=") + text});
        EXPECT_EQ(run.status, 2) << '"' << text << '"';
        EXPECT_NE(run.err.find("Popup"), std::string::npos) << run.err;
    }
    EXPECT_EQ(reg::QueryDword(Hive::CurrentUser, kSettings, "Popup"), 2u);
    EXPECT_EQ(Tool({"PopupTimeout=4294967295", "LogCollectorLimit=007"}).status, 0);
    EXPECT_EQ(reg::QueryDword(Hive::CurrentUser, kSettings, "PopupTimeout"), 4294967295u);
    EXPECT_EQ(reg::QueryDword(Hive::CurrentUser, kSettings, "LogCollectorLimit"), 7u);
}

// A hive that is not a database: reads give defaults the tool must not pass off as values, and
// writes fail.
TEST_F(SettingsToolTest, UnreadableHiveAndFailedWritesAreFailures) {
    std::filesystem::create_directories(dir / "reg");
    const std::string garbage = "not a database\n" + std::string(5000, 'z');
    fv::test::WriteFile(dir / "reg/HKCU.sqlite", garbage);
    fv::test::WriteFile(dir / "reg/HKLM.sqlite", garbage);

    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"Popup=2"}, {"LogPath=/tmp/"}, {"Popup"}, {}, {"TotalBlocked"}}) {
        const ToolRun run = Tool(arguments);
        EXPECT_EQ(run.status, 1) << (arguments.empty() ? "(no argument)" : arguments[0]);
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_EQ(Tool({"TotalGranted=5"}).status, 2);
    EXPECT_TRUE(fv::test::ReadFile(dir / "reg/HKCU.sqlite") == garbage);
    EXPECT_TRUE(fv::test::ReadFile(dir / "reg/HKLM.sqlite") == garbage);

    // Once the hives are sound again, the same requests succeed.
    std::filesystem::remove(dir / "reg/HKCU.sqlite");
    std::filesystem::remove(dir / "reg/HKLM.sqlite");
    EXPECT_EQ(Tool({"Popup=2"}).status, 0);
    const ToolRun read = Tool({"Popup", "TotalBlocked"});
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.out, "Popup=2\nTotalBlocked=0\n");
}

}  // namespace
