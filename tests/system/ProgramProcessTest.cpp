// The program as the desktop runs it: its own process beside ferrovane-sys --sim and its built-in
// traffic, filtering with a blocklist that lists half the address space. However the program is
// ended (a termination signal, the X server going away), it ends its log with the footer and
// stores totals equal to the blocked lines it logged.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fv_contract/DeviceNames.h"
#include "fv_gui/logging/ConnectionLog.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "tests/fv_gui/TestFiles.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr const char kXvfb[] = "/usr/bin/Xvfb";
// Enough lines to show the counting works; the traffic makes them within a second or two.
constexpr int kLinesBeforeTheEnd = 20;
// Only reached when something is stuck.
constexpr auto kPatience = 30s;
constexpr const char kFooter[] = "\r\nLOGGING STOPPED on ";

// With `errorFile`, the child's standard error goes there.
pid_t Spawn(const std::vector<std::string>& args, const std::string& errorFile = {}) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (!errorFile.empty()) {
        ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// The child's exit status, -1 when it did not exit on its own in time (it is killed then).
int WaitExit(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(20ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ProgramProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir / "dev");
        std::filesystem::create_directories(dir / "run");
        ::chmod((dir / "run").c_str(), 0700);
        ::setenv(kDeviceDirVariable, (dir / "dev").c_str(), 1);
        ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
        fv::test::WriteFile(dir / "list.p2p", "Lower Half:0.0.0.0-127.255.255.255\r\n");
        // Under ThreadSanitizer: Qt's, GLib's and libdbus' libraries are not instrumented, so their
        // threads (D-Bus for the tray) hand memory over, and take libdbus' locks, in ways it cannot
        // see, as the widget tests know. With an X display libdbus starts a session bus of its own.
        AddSuppressions("TSAN_OPTIONS", "tsan.supp",
                        "race:libQt6Core.so\nrace:libQt6Gui.so\nrace:libQt6DBus.so\nrace:libQt6XcbQpa.so\n"
                        "race:libglib-2.0.so\nrace:libdbus-1.so\ndeadlock:libdbus-1.so\n");
        // Qt's X11 platform ends the process with exit() when its display goes: fontconfig's
        // caches are never freed then.
        AddSuppressions("LSAN_OPTIONS", "lsan.supp", "leak:libfontconfig.so\n");
        {
            fv::Settings settings(dir / "program");
            settings.IPDB.Set(dir / "list.p2p");
            settings.LogPath.Set(dir.Path() + "/");
            settings.SelectedAdapter.Set("sim0");
            settings.AutoStart.Set(1);
            settings.LogGrantedToFile.Set(0);
        }
        daemon = Spawn({FV_FERROVANE_SYS, "--sim", "--device-dir", dir / "dev"});
        ASSERT_GT(daemon, 0);
        const std::string socket = dir / (std::string("dev/") + kControlDeviceName);
        for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i) std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(std::filesystem::exists(socket)) << "the daemon did not come up";
    }
    void TearDown() override {
        if (program > 0) {
            ::kill(program, SIGKILL);
            ::waitpid(program, nullptr, 0);
        }
        if (daemon > 0) {
            ::kill(daemon, SIGTERM);
            ::waitpid(daemon, nullptr, 0);
        }
        ::unsetenv("DISPLAY");
        for (const auto& [name, before] : optionsBefore) {
            if (before) ::setenv(name.c_str(), before->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
        ::unsetenv("QT_QPA_PLATFORM");
    }

    // The program inherits a sanitizer's options with `rules` added; TearDown puts them back.
    void AddSuppressions(const char* variable, const char* file, const char* rules) {
        const char* before = std::getenv(variable);
        optionsBefore.emplace_back(variable, before ? std::optional<std::string>(before) : std::nullopt);
        fv::test::WriteFile(dir / file, rules);
        ::setenv(variable, ((before ? std::string(before) + ":" : "") + "suppressions=" + (dir / file)).c_str(), 1);
    }

    std::string LogText() const { return fv::test::ReadFile(dir / fv::kLogFileName); }
    static int BlockedLines(const std::string& log) {
        int lines = 0;
        for (const char* mark : {"  [->] REJECTED - ", "  [<-] BLOCKED [!] - "}) {
            for (auto at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) ++lines;
        }
        return lines;
    }
    // Starts the program and waits until it has logged some blocked packets.
    void StartProgram(const std::string& errorFile = {}) {
        program = Spawn({FV_FERROVANE}, errorFile);
        ASSERT_GT(program, 0);
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (BlockedLines(LogText()) < kLinesBeforeTheEnd && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(50ms);
        ASSERT_GE(BlockedLines(LogText()), kLinesBeforeTheEnd) << "the program logged nothing";
    }
    // The program has ended: the log closes with the footer and the stored total matches it.
    void ExpectEndedWell(std::int64_t storedBefore) {
        const std::string log = LogText();
        const auto footer = log.rfind(kFooter);
        ASSERT_NE(footer, std::string::npos) << "no footer";
        EXPECT_EQ(log.find("  ", footer + std::strlen(kFooter)), std::string::npos) << "lines after the footer";
        EXPECT_EQ(fv::PacketStatistics().GetTotalBlocked() - storedBefore, BlockedLines(log));
    }

    fv::test::TempDir dir;
    pid_t daemon = -1;
    pid_t program = -1;
    std::vector<std::pair<std::string, std::optional<std::string>>> optionsBefore;
};

TEST_F(ProgramProcessTest, EachTerminationSignalEndsTheProgramThroughItsShutdown) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::int64_t stored = 0;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        std::filesystem::remove(dir / fv::kLogFileName);
        StartProgram();
        ::kill(program, signal);
        EXPECT_EQ(WaitExit(program), 0);
        program = -1;
        ExpectEndedWell(stored);
        stored = fv::PacketStatistics().GetTotalBlocked();
    }
}

TEST_F(ProgramProcessTest, WithoutAScreenTheProgramKeepsQuietAboutWhatItCannotShow) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    fv::Settings(dir / "program").Popup.Set(2);  // the popup is shaped and raised for each packet
    const std::string errors = dir / "stderr.txt";
    StartProgram(errors);
    ::kill(program, SIGTERM);
    EXPECT_EQ(WaitExit(program), 0);
    program = -1;
    const std::string said = fv::test::ReadFile(errors);
    EXPECT_EQ(said.find("This plugin does not support"), std::string::npos) << said.substr(0, 400);
}

TEST_F(ProgramProcessTest, TheXServerGoingAwayEndsTheProgramThroughItsShutdown) {
    if (::access(kXvfb, X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
    // Xvfb picks a free display and writes its number to the pipe.
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 3);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {kXvfb, "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "800x600x24"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t server = -1;
    ASSERT_EQ(::posix_spawn(&server, kXvfb, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    std::string display;
    char c;
    while (::read(pipe[0], &c, 1) == 1 && c != '\n') display += c;
    ::close(pipe[0]);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";
    ::setenv("DISPLAY", (":" + display).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);

    StartProgram();
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    // Qt's X11 platform ends the process with status 1 when its connection breaks.
    EXPECT_GE(WaitExit(program), 0);
    program = -1;
    ExpectEndedWell(0);
}

}  // namespace
