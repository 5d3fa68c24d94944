// The whole program on a real (namespaced) network: the main window runs in-process against
// ferrovane-sys --bind with a blocklist on disk, real datagrams go to a listed and an unlisted
// address and arrive from a listed one, and fvconns.log, the counter labels, the blocked log
// window and — once the window is closed — the stored totals must all agree with what was sent.
#include <QApplication>
#include <QCloseEvent>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/controls/CLabel.h"
#include "fv_gui/logging/ConnectionLog.h"
#include "fv_gui/logview/CLogWindow.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "tests/fv_gui/desktop/MainWindowFixture.h"
#include "tests/system/TestNetwork.h"

namespace {

using namespace fv::systest;
using fv::test::WriteFile;

constexpr int kListedOut = 5;
constexpr int kUnlistedOut = 4;
constexpr int kListedIn = 3;
constexpr std::uint16_t kInboundPort = kEchoPort + 1;
constexpr std::uint16_t kInboundSource = kEchoPort + 2;
// How long a stopped daemon stays stopped before the test resumes it: far beyond the client's
// time-outs, so that a program which waits for the daemon still ends, and is caught.
constexpr auto kStoppedDaemonPatience = std::chrono::seconds(60);

class ProgramSystemTest : public fv::test::MainWindowFixture {
protected:
    QString CounterText(int id) const { return Control<fv::CLabel>(id)->text(); }

    std::vector<std::string> LogLines() const {
        std::ifstream in(dir / (std::string("logs/") + fv::kLogFileName), std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // The program on the test network's interface with `list` as its blocklist, filtering from
    // its start; `more` settles further settings.
    void StartFiltering(const TestNetwork& network, const std::string& list,
                        const std::function<void(fv::Settings&)>& more = {}) {
        const std::filesystem::path devices = std::filesystem::path(network.DeviceSocket()).parent_path();
        ::setenv(kDeviceDirVariable, devices.c_str(), 1);
        WriteFile(Blocklist(), list);
        Configure([&](fv::Settings& s) {
            s.SelectedAdapter.Set(kLower);
            s.AutoStart.Set(1);
            if (more) more(s);
        });
        Start();
        ASSERT_NE(window->Controller().Session(), nullptr) << "no session; status: " << (StatusTexts().empty() ? "" : StatusTexts().back());
        ASSERT_TRUE(window->Controller().Session()->FilteringOn());
    }
};

// One datagram, no answer awaited: the listed side never sees it when filtering works.
void SendUdp(const char* to, std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in remote = Address(to, port);
    sendto(fd, "fv", 2, 0, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    close(fd);
}

TEST_F(ProgramSystemTest, CountersLogAndStoredTotalsAgreeWithTheTrafficSent) {
    FV_REQUIRE_PRIVATE_NETWORK();
    TestNetwork network(FV_FERROVANE_SYS);
    ASSERT_TRUE(network.Ready()) << "the test network did not come up";
    ASSERT_NO_FATAL_FAILURE(StartFiltering(
        network,
        std::string("Hostile Test Host:") + kListedRemote + "-" + kListedRemote +
            "\r\nFar Away:198.18.0.0-198.19.255.255\r\n",
        [](fv::Settings& s) { s.LogGrantedToFile.Set(1); }));

    for (int i = 0; i < kListedOut; ++i) SendUdp(kListedRemote, kEchoPort);
    for (int i = 0; i < kUnlistedOut; ++i) EXPECT_TRUE(UdpEcho(nullptr, kUnlistedRemote));
    const pid_t sender = SpawnIn(network.RemoteNamespace(), [] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in source = Address(kListedRemote, kInboundSource);
        sockaddr_in to = Address(kWorkstationAddress, kInboundPort);
        if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) return 1;
        for (int i = 0; i < kListedIn; ++i) {
            if (sendto(fd, "in", 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) != 2) return 1;
        }
        return 0;
    });
    EXPECT_EQ(WaitExit(sender), 0);

    constexpr int blocked = kListedOut + kListedIn;
    const QString blockedText = QString("%1 / %1").arg(blocked);
    EXPECT_TRUE(WaitFor([&] { return CounterText(fv::kBlockedCounter) == blockedText; }))
        << CounterText(fv::kBlockedCounter).toStdString();
    // Every blocked packet becomes one row; the window works its queue off at its own pace.
    EXPECT_TRUE(WaitFor([&] { return window->BlockedLog() && window->BlockedLog()->List().RowCount() == blocked; }));
    // Each unlisted datagram went out and its echo came back; the granted consumer shows them
    // at its own pace, so the label is read once it has caught up.
    std::string grantedText;
    int granted = 0;
    EXPECT_TRUE(WaitFor([&] {
        grantedText = CounterText(fv::kGrantedCounter).toStdString();
        const auto slash = grantedText.find(" / ");
        granted = slash == std::string::npos ? 0 : std::atoi(grantedText.c_str());
        return granted >= 2 * kUnlistedOut;
    })) << grantedText;
    const auto slash = grantedText.find(" / ");
    ASSERT_NE(slash, std::string::npos) << grantedText;
    EXPECT_EQ(grantedText.substr(slash + 3), std::to_string(granted));

    // The close from outside ends the run; the totals are stored on the way out.
    QCloseEvent close;
    QApplication::sendEvent(window.get(), &close);
    ASSERT_TRUE(window->Ended());
    window.reset();
    {
        fv::PacketStatistics stored;
        EXPECT_EQ(stored.GetTotalBlocked(), blocked);
        EXPECT_EQ(stored.GetTotalGranted(), granted);
    }

    const std::string out = std::string("  [<-] BLOCKED [!] - Destination is Hostile Test Host (") + kListedRemote +
                            ") [Protocol: UDP - src: ";
    const std::string in = std::string("  [->] REJECTED - Source is Hostile Test Host (") + kListedRemote +
                           ") [Protocol: UDP - src: " + std::to_string(kInboundSource) +
                           " / dst: " + std::to_string(kInboundPort) + "]\r";
    const std::string grantedOut = std::string("non-hostile destination (") + kUnlistedRemote + ")";
    int outgoing = 0, incoming = 0, grantedLines = 0, banners = 0;
    for (const std::string& line : LogLines()) {
        outgoing += line.find(out) != std::string::npos;
        incoming += line.ends_with(in);
        grantedLines += line.find(grantedOut) != std::string::npos;
        banners += line == "There are 131073 known IP addresses in 2 ranges.\r";
    }
    EXPECT_EQ(outgoing, kListedOut);
    EXPECT_EQ(incoming, kListedIn);
    EXPECT_EQ(grantedLines, 1);  // an address already granted is not logged again
    EXPECT_EQ(banners, 1);
}

// A daemon that stops answering (here: SIGSTOP) must not hold the program: every request
// gives up, the quit runs through its whole shutdown, and the totals are still stored.
TEST_F(ProgramSystemTest, QuitEndsWhileTheDaemonIsStopped) {
    FV_REQUIRE_PRIVATE_NETWORK();
    TestNetwork network(FV_FERROVANE_SYS);
    ASSERT_TRUE(network.Ready()) << "the test network did not come up";
    ASSERT_NO_FATAL_FAILURE(
        StartFiltering(network, std::string("Hostile Test Host:") + kListedRemote + "-" + kListedRemote + "\r\n"));
    SendUdp(kListedRemote, kEchoPort);
    EXPECT_TRUE(WaitFor([&] { return CounterText(fv::kBlockedCounter) == "1 / 1"; }));

    ASSERT_EQ(kill(network.Daemon(), SIGSTOP), 0);
    std::mutex lock;
    std::condition_variable changed;
    bool quitEnded = false;
    bool resumed = false;
    std::thread watchdog([&] {
        std::unique_lock guard(lock);
        if (!changed.wait_for(guard, kStoppedDaemonPatience, [&] { return quitEnded; })) {
            resumed = true;
            kill(network.Daemon(), SIGCONT);
        }
    });
    const auto quitStarted = std::chrono::steady_clock::now();
    QCloseEvent close;
    QApplication::sendEvent(window.get(), &close);
    EXPECT_TRUE(window->Ended());
    window.reset();
    const auto quitTook = std::chrono::steady_clock::now() - quitStarted;
    {
        std::lock_guard guard(lock);
        quitEnded = true;
    }
    changed.notify_all();
    watchdog.join();
    kill(network.Daemon(), SIGCONT);
    EXPECT_FALSE(resumed) << "the quit waited until the daemon was resumed";
    std::printf("quit with the daemon stopped took %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(quitTook).count()));
    fv::PacketStatistics stored;
    EXPECT_EQ(stored.GetTotalBlocked(), 1u);
    int footers = 0;
    for (const std::string& line : LogLines()) footers += line.find("LOGGING STOPPED on ") != std::string::npos;
    EXPECT_EQ(footers, 1);
}

// A list update renames a new file over the blocklist while filtering runs: the program swaps
// the new table in, and a sender to an address listed in both files loses every datagram, during
// the swap as before and after it.
TEST_F(ProgramSystemTest, AListUpdateGoesInWithoutLettingAListedPacketThrough) {
    constexpr std::uint16_t kSwapPort = kEchoPort + 3;
    constexpr char kProbe = 'p';
    constexpr int kSendIntervalMs = 1;
    constexpr int kBlockedAfterSwap = 20;
    FV_REQUIRE_PRIVATE_NETWORK();
    TestNetwork network(FV_FERROVANE_SYS);
    ASSERT_TRUE(network.Ready()) << "the test network did not come up";
    ASSERT_NO_FATAL_FAILURE(
        StartFiltering(network, std::string("List A:") + kListedRemote + "-" + kListedRemote + "\r\n"));

    // On the listed address: counts what reaches it until a probe comes, and exits with the count.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t receiver = SpawnIn(network.RemoteNamespace(), [&] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = Address(kListedRemote, kSwapPort);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return 250;
        if (write(ready[1], "r", 1) != 1) return 251;
        int passed = 0;
        for (char byte = 0; recv(fd, &byte, 1, 0) == 1 && byte != kProbe;) ++passed;
        return std::min(passed, 200);
    });
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    close(ready[1]);

    std::atomic<bool> sending{true};
    std::atomic<int> sent{0};
    std::thread sender([&] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in to = Address(kListedRemote, kSwapPort);
        while (sending) {
            if (sendto(fd, "s", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 1) ++sent;
            std::this_thread::sleep_for(std::chrono::milliseconds(kSendIntervalMs));
        }
        close(fd);
    });
    fv::PacketStatistics& statistics = *window->Controller().Statistics();
    EXPECT_TRUE(WaitFor([&] { return statistics.GetRunningBlocked() > 0; }));

    // As a list update does: written beside the file, then renamed over it.
    WriteFile(Blocklist() + ".new", std::string("List B:10.201.0.60-10.201.0.70\r\nFar Away:198.18.0.0-198.19.255.255\r\n"));
    std::filesystem::rename(Blocklist() + ".new", Blocklist());
    const std::string updated = "IP table updated from \"" + Blocklist() + "\".";
    EXPECT_TRUE(WaitFor([&] { return HasStatus(updated); })) << StatusTexts().back();
    EXPECT_TRUE(window->Controller().Session()->FilteringOn());
    EXPECT_EQ(window->Controller().Session()->Blocklist()->RangeCount(), 2);
    // The sender goes on well past the swap: its datagrams meet the new table too.
    const std::uint64_t atSwap = statistics.GetRunningBlocked();
    EXPECT_TRUE(WaitFor([&] { return statistics.GetRunningBlocked() >= atSwap + kBlockedAfterSwap; }));
    sending = false;
    sender.join();
    // The daemon decides frames in order: once an echo is back, every datagram sent was decided.
    bool echoed = false;
    for (int i = 0; i < 5 && !echoed; ++i) echoed = UdpEcho(nullptr, kUnlistedRemote);
    EXPECT_TRUE(echoed);

    // Unfiltered, a probe reaches the receiver: it was listening all along.
    window->ToggleFiltering();
    ASSERT_FALSE(window->Controller().Session()->FilteringOn());
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Address(kListedRemote, kSwapPort);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 1000 && ended == 0; ++i) {
        sendto(fd, &kProbe, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ended = waitpid(receiver, &status, WNOHANG);
    }
    close(fd);
    if (ended == 0) {
        kill(receiver, SIGKILL);
        waitpid(receiver, &status, 0);
    }
    ASSERT_EQ(ended, receiver) << "the receiver never saw a probe";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "listed datagrams that passed, of " << sent.load() << " sent";
    std::printf("%d datagrams sent to a listed address across the swap\n", sent.load());
}

}  // namespace
