// The driver session and its readers against a scripted device on the real control socket:
// version checks, request order, drains, notifications, failed reads, stops and watchers that
// do not end.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/WaitUntil.h"
#include "tests/fv_gui/ScriptedSessionFixture.h"
#include "fv_gui/client/DeviceAccess.h"
#include "fv_platform/Wait.h"
#include "fv_contract/DeviceNames.h"
#include "fv_contract/Statuses.h"

namespace {

using namespace fv::test;
using fv::RecordKind;

PacketEventRecord Record(std::uint32_t hostAddress, std::uint16_t first, std::uint16_t second,
                         std::uint8_t direction, std::uint8_t protocol) {
    PacketEventRecord r{};
    r.remoteAddress = htonl(hostAddress);
    r.firstPort = htons(first);
    r.secondPort = htons(second);
    r.direction = direction;
    r.protocol = protocol;
    return r;
}

class SessionTest : public ScriptedSessionFixture {
protected:
    void OpenAndStart() {
        ASSERT_TRUE(session->OpenSession(Parameters(kAdapter)));
        ASSERT_TRUE(session->SetFiltering(true));
    }
};

TEST_F(SessionTest, VersionChecks) {
    EXPECT_TRUE(session->CheckDriverVersion());
    EXPECT_TRUE(session->DriverPresent());
    EXPECT_EQ(session->Adapters().count(kAdapter), 1u);

    {
        auto lock = driver->Lock();
        driver->version.build = 8055;
    }
    EXPECT_FALSE(session->CheckDriverVersion());
    EXPECT_TRUE(session->DriverPresent());
    EXPECT_EQ(session->MessageText(),
              "Version incompatibility!\r\nThis version of the program requires you use "
              "\"Ferrovane.sys\" driver v2.00 build 8056.\r\nYou are currently using v2.00 build "
              "8055 of this driver and you cannot continue.\r\n\r\nUninstall the old version and "
              "then reinstall the new one.");

    // A reply that claims success but is short is no version.
    {
        auto lock = driver->Lock();
        driver->script = [](std::uint32_t code, std::uint8_t*, std::uint32_t, std::uint32_t,
                            std::uint32_t* info) {
            *info = 12;
            return code == IOCTL_GET_VERSION ? std::optional<std::uint32_t>(STATUS_SUCCESS)
                                             : std::nullopt;
        };
    }
    DriverVersionInfo version{};
    EXPECT_FALSE(session->ProbeDriver(version));
    EXPECT_FALSE(session->DriverPresent());
}

TEST_F(SessionTest, NoDriverReportsVersionZero) {
    driver.reset();
    EXPECT_FALSE(session->CheckDriverVersion());
    EXPECT_FALSE(session->DriverPresent());
    EXPECT_NE(session->MessageText().find("You are currently using v0.00 build 0 of this driver"),
              std::string::npos);
    DriverVersionInfo version{};
    EXPECT_FALSE(session->QueryDriverVersion(version));
}

TEST_F(SessionTest, FallbackDeviceName) {
    driver.reset();
    driver = std::make_unique<ScriptedDriver>(DeviceDir());
    ASSERT_TRUE(driver->Serve(kControlDeviceFallbackName));
    EXPECT_TRUE(session->CheckDriverVersion());
}

TEST_F(SessionTest, OpenStartStopCloseInOrder) {
    std::vector<std::uint32_t> codes;
    auto scriptLock = driver->Lock();
    driver->script = [&codes](std::uint32_t code, std::uint8_t*, std::uint32_t,
                                              std::uint32_t, std::uint32_t*) {
        codes.push_back(code);
        return std::optional<std::uint32_t>();
    };
    scriptLock.unlock();
    settings->LogBlockedToFile.value = 1;
    settings->LogGrantedToFile.value = 0;
    OpenAndStart();
    EXPECT_TRUE(session->FilteringOn());
    EXPECT_TRUE(driver->EventsHeld());
    {
        auto lock = driver->Lock();
        EXPECT_TRUE(driver->filtering);
        EXPECT_EQ(driver->reportBlocked, 1);
        EXPECT_EQ(driver->reportGranted, 0);
    }
    EXPECT_TRUE(session->SetFiltering(false));
    EXPECT_FALSE(session->WatcherExists(RecordKind::Blocked));
    EXPECT_FALSE(session->WatcherExists(RecordKind::Granted));
    EXPECT_TRUE(sink.messages.empty());  // the exit signal came back within the wait
    session->CloseSession();
    EXPECT_FALSE(driver->EventsHeld());
    const std::vector<std::uint32_t> expected = {
        IOCTL_CREATE_BLOCKED_EVENT, IOCTL_CREATE_GRANTED_EVENT, IOCTL_CREATE_EXIT_EVENT,
        IOCTL_OPEN_ADAPTER,         IOCTL_SET_RANGES,           IOCTL_START_FILTER,
        IOCTL_SET_REPORT_GRANTED,   IOCTL_SET_REPORT_BLOCKED,   IOCTL_STOP_FILTER,
        IOCTL_CLOSE_EVENTS};
    auto lock = driver->Lock();
    EXPECT_EQ(codes, expected);
    const std::string log = ReadFile(LogFile());
    EXPECT_NE(log.find("There are 259 known IP addresses in 2 ranges."), std::string::npos);
    EXPECT_NE(log.find("LOGGING STOPPED"), std::string::npos);
}

TEST_F(SessionTest, ThreeBlockedRecordsInOneSignalGiveOneDrain) {
    OpenAndStart();
    const std::vector<PacketEventRecord> records = {
        Record(Address(203, 0, 113, 5), 40000, 443, 1, 6),
        Record(Address(198, 51, 100, 8), 80, 1234, 0, 6),
        Record(Address(10, 9, 9, 9), 0, 0, 1, 1),  // listed nowhere: the lookup misses
    };
    driver->Report(true, records);
    ASSERT_TRUE(WaitUntil([&] { return statistics->GetRunningBlocked() == 3; }));
    ASSERT_TRUE(session->SetFiltering(false));
    EXPECT_EQ(driver->Served(IOCTL_GET_BLOCKED_COUNT), 1);
    EXPECT_EQ(driver->Served(IOCTL_GET_BLOCKED_RECORD), 3);
    // One wake-up of the main window for the burst.
    EXPECT_EQ(fv::WaitForObject(blockedNotify, 0), fv::kWaitObject0);
    EXPECT_EQ(fv::WaitForObject(blockedNotify, 0), fv::kWaitTimeout);

    const auto views = PopAllBlocked();
    ASSERT_EQ(views.size(), 3u);
    EXPECT_EQ(views[0].packet.remoteAddress, Address(203, 0, 113, 5));
    EXPECT_EQ(views[0].packet.secondPort, htons(443));
    EXPECT_STREQ(views[0].description, "Listed Net");
    EXPECT_STREQ(views[0].addressText, "203.0.113.5");
    EXPECT_STREQ(views[1].description, "Other Net");
    EXPECT_EQ(views[1].packet.direction, 0);
    EXPECT_STREQ(views[2].description, fv::kDescriptionLookupFailed);
    EXPECT_STREQ(views[2].addressText, "10.9.9.9");

    const std::string log = ReadFile(LogFile());
    EXPECT_NE(log.find("  [<-] BLOCKED [!] - Destination is Listed Net (203.0.113.5) [Protocol: "
                       "TCP - src: 40000 / dst: 443]\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[->] REJECTED - Source is Other Net (198.51.100.8)"), std::string::npos);
}

TEST_F(SessionTest, NotificationsAreThrottledAcrossDrains) {
    OpenAndStart();
    driver->Report(true, {Record(Address(203, 0, 113, 1), 1, 2, 1, 17)});
    ASSERT_TRUE(WaitUntil([&] { return statistics->GetRunningBlocked() == 1; }));
    driver->Report(true, {Record(Address(203, 0, 113, 2), 1, 2, 1, 17)});
    ASSERT_TRUE(WaitUntil([&] { return statistics->GetRunningBlocked() == 2; }));
    ASSERT_TRUE(session->SetFiltering(false));
    EXPECT_EQ(driver->Served(IOCTL_GET_BLOCKED_COUNT), 2);
    // The second drain came within a second of the first notification.
    EXPECT_EQ(fv::WaitForObject(blockedNotify, 0), fv::kWaitObject0);
    EXPECT_EQ(fv::WaitForObject(blockedNotify, 0), fv::kWaitTimeout);
    EXPECT_EQ(PopAllBlocked().size(), 2u);
}

TEST_F(SessionTest, RecordsAfterAThrottledNotificationStillReachTheConsumer) {
    OpenAndStart();
    // The main window's side: woken by the notify event, it takes whatever is queued.
    std::atomic<int> consumed{0};
    std::atomic<bool> done{false};
    std::thread consumer([&] {
        while (!done.load()) {
            if (fv::WaitForObject(blockedNotify, 20) != fv::kWaitObject0) continue;
            fv::BlockedPacketView view;
            while (queue.PopBlocked(view)) ++consumed;
        }
    });
    // Three bursts within the second after the first notification, then silence.
    for (int burst = 0; burst < 3; ++burst) {
        driver->Report(true, {Record(Address(203, 0, 113, 1), 1, 2, 1, 6),
                              Record(Address(203, 0, 113, 2), 1, 2, 1, 6)});
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(WaitUntil([&] { return consumed.load() == 6; })) << consumed.load();
    done.store(true);
    consumer.join();
    ASSERT_TRUE(session->SetFiltering(false));
}

TEST_F(SessionTest, AFailedRecordReadIsCountedButNeverShownAsAPacket) {
    OpenAndStart();
    auto scriptLock = driver->Lock();
    driver->script = [](std::uint32_t code, std::uint8_t* buffer, std::uint32_t, std::uint32_t,
                        std::uint32_t* info) {
        if (code == IOCTL_GET_BLOCKED_RECORD) return std::optional<std::uint32_t>(STATUS_INVALID_PARAMETER);
        if (code == IOCTL_GET_GRANTED_RECORD) {
            // Success, but short: half a record must not pass for a whole one.
            std::memset(buffer, 0x7F, 6);
            *info = 6;
            return std::optional<std::uint32_t>(STATUS_SUCCESS);
        }
        return std::optional<std::uint32_t>();
    };
    scriptLock.unlock();
    driver->Report(true, {Record(Address(203, 0, 113, 1), 1, 2, 1, 6)});
    driver->Report(false, {Record(Address(8, 8, 8, 8), 1, 2, 1, 6)});
    // The driver's count vouches for a packet it decided on; only its details are lost.
    ASSERT_TRUE(WaitUntil([&] {
        return statistics->GetRunningBlocked() == 1 && statistics->GetRunningGranted() == 1;
    }));
    ASSERT_TRUE(session->SetFiltering(false));
    EXPECT_TRUE(PopAllBlocked().empty());
    EXPECT_TRUE(PopAllGranted().empty());
    const std::string log = ReadFile(LogFile());
    EXPECT_EQ(log.find("1.1.1.1"), std::string::npos);
    EXPECT_EQ(log.find("REJECTED"), std::string::npos);
    EXPECT_EQ(log.find("BLOCKED [!]"), std::string::npos);
    EXPECT_EQ(log.find("access granted"), std::string::npos);
    EXPECT_NE(log.find(std::string("  ") + fv::kBlockedRecordUnreadableText + "\r\n"), std::string::npos);
    EXPECT_NE(log.find(std::string("  ") + fv::kGrantedRecordUnreadableText + "\r\n"), std::string::npos);
}

TEST_F(SessionTest, TheLogMovesToANewFolderWhileFiltering) {
    OpenAndStart();
    std::filesystem::create_directories(dir / "newlogs");
    auto log = session->Log();
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(log->ChangeFolder(dir / "newlogs/"));
    driver->Report(true, {Record(Address(203, 0, 113, 7), 1, 2, 1, 6)});
    ASSERT_TRUE(WaitUntil([&] { return statistics->GetRunningBlocked() == 1; }));
    ASSERT_TRUE(session->SetFiltering(false));
    EXPECT_EQ(session->Log(), nullptr);
    const std::string moved = ReadFile(dir / "newlogs/fvconns.log");
    EXPECT_NE(moved.find("[!] Logfile changed, old is"), std::string::npos);
    EXPECT_NE(moved.find("(203.0.113.7)"), std::string::npos);
    EXPECT_EQ(ReadFile(LogFile()).find("(203.0.113.7)"), std::string::npos);
}

TEST_F(SessionTest, GrantedAddressesAreLoggedOncePerCacheTurn) {
    OpenAndStart();
    driver->Report(false, {Record(Address(192, 0, 2, 10), 40000, 53, 1, 17),
                           Record(Address(192, 0, 2, 10), 40001, 53, 1, 17)});
    ASSERT_TRUE(WaitUntil([&] { return statistics->GetRunningGranted() == 2; }));
    ASSERT_TRUE(session->SetFiltering(false));
    EXPECT_EQ(PopAllGranted().size(), 2u);
    const std::string log = ReadFile(LogFile());
    const std::string line = "[<-] non-hostile destination (192.0.2.10), access granted";
    const auto first = log.find(line);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find(line, first + 1), std::string::npos);
}

TEST_F(SessionTest, StopWhileADrainRunsEndsAfterTheCurrentRecord) {
    OpenAndStart();
    driver->StallRecordReads();
    driver->Report(true, {Record(Address(203, 0, 113, 1), 1, 2, 1, 6),
                          Record(Address(203, 0, 113, 2), 1, 2, 1, 6),
                          Record(Address(203, 0, 113, 3), 1, 2, 1, 6)});
    ASSERT_TRUE(driver->WaitForStalledRead());
    bool existed = false;
    std::thread stopper([&] { existed = session->EndExitEventChain(); });
    // The stop flag is up before the read returns.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    driver->ReleaseStall();
    stopper.join();
    EXPECT_TRUE(existed);
    EXPECT_FALSE(session->WatcherExists(RecordKind::Blocked));
    EXPECT_EQ(driver->Served(IOCTL_GET_BLOCKED_RECORD), 1);
    EXPECT_EQ(PopAllBlocked().size(), 1u);
    EXPECT_TRUE(session->SetFiltering(false));
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SessionTest, StuckWatcherIsAbandonedAndBlocksTheNextStart) {
    session->SetWatcherEndWait(100);
    OpenAndStart();
    driver->StallRecordReads();
    driver->Report(false, {Record(Address(192, 0, 2, 1), 1, 2, 1, 6)});
    ASSERT_TRUE(driver->WaitForStalledRead());
    EXPECT_TRUE(session->EndExitEventChain());
    EXPECT_FALSE(session->WatcherExists(RecordKind::Blocked));
    EXPECT_TRUE(session->WatcherExists(RecordKind::Granted));
    // Its reference stays: a start fails, and releases the events and the adapter handle.
    EXPECT_FALSE(session->SetFiltering(true));
    EXPECT_FALSE(session->EventsHeld());
    EXPECT_FALSE(session->AdapterHandleOpen());
    EXPECT_FALSE(driver->EventsHeld());
    EXPECT_TRUE(session->WatcherExists(RecordKind::Blocked));  // started anew before the refusal

    // The given-up watcher ends by itself once its request returns, and is then forgotten.
    driver->ReleaseStall();
    session->SetWatcherEndWait(10000);
    session->EndExitEventChain();
    EXPECT_FALSE(session->WatcherExists(RecordKind::Granted));
    EXPECT_FALSE(session->WatcherExists(RecordKind::Blocked));
    EXPECT_EQ(PopAllGranted().size(), 1u);
}

TEST_F(SessionTest, StartingTwiceWithoutAStopReleasesEventsAndAdapter) {
    OpenAndStart();
    EXPECT_FALSE(session->SetFiltering(true));
    EXPECT_FALSE(session->FilteringOn());
    EXPECT_FALSE(session->EventsHeld());
    EXPECT_FALSE(session->AdapterHandleOpen());
    EXPECT_FALSE(driver->EventsHeld());
    // The readers of the first start still run; closing ends them.
    EXPECT_TRUE(session->WatcherExists(RecordKind::Granted));
    session->CloseSession();
    EXPECT_FALSE(session->WatcherExists(RecordKind::Granted));
    EXPECT_FALSE(session->WatcherExists(RecordKind::Blocked));
}

TEST_F(SessionTest, StopWithoutReadersShowsNothing) {
    ASSERT_TRUE(session->OpenSession(Parameters(kAdapter)));
    EXPECT_TRUE(session->SetFiltering(false));
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SessionTest, OpenFailuresReleaseTheEvents) {
    // An empty blocklist: the driver refuses an upload of no ranges.
    WriteFile(Blocklist(), "no entries here\r\n");
    EXPECT_FALSE(session->OpenSession(Parameters(kAdapter)));
    EXPECT_FALSE(session->EventsHeld());
    EXPECT_FALSE(driver->EventsHeld());
    // The adapter is free again for the next session.
    EXPECT_FALSE(session->AdapterHandleOpen());
    fv::DeviceHandle again = fv::OpenAdapterHandle(kAdapter);
    EXPECT_TRUE(again.Valid());
    again.Close();

    // An adapter the driver does not know, and a blocklist that does not open.
    auto other = std::make_unique<fv::DriverSession>(&sink);
    EXPECT_FALSE(other->OpenSession(Parameters("eth9")));
    EXPECT_FALSE(driver->EventsHeld());
    fv::SessionParameters missing = Parameters(kAdapter);
    missing.blocklistPath = dir / "absent.p2p";
    EXPECT_FALSE(other->OpenSession(missing));
    EXPECT_FALSE(driver->EventsHeld());
}

TEST_F(SessionTest, LogFileInUseDisablesLoggingNotFiltering) {
    const int holder = ::open(LogFile().c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    OpenAndStart();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, fv::kLoggingInitFailedMessage);
    EXPECT_EQ(sink.messages[0].kind, fv::MessageKind::Error);
    EXPECT_TRUE(session->FilteringOn());
    driver->Report(true, {Record(Address(203, 0, 113, 1), 1, 2, 1, 6)});
    ASSERT_TRUE(WaitUntil([&] { return statistics->GetRunningBlocked() == 1; }));
    EXPECT_TRUE(session->SetFiltering(false));
    // The next start tries the file again.
    EXPECT_TRUE(session->SetFiltering(true));
    EXPECT_EQ(sink.messages.size(), 2u);
    ::close(holder);
    EXPECT_TRUE(session->SetFiltering(false));
    EXPECT_TRUE(ReadFile(LogFile()).empty());
}

// Holds the process at its descriptors in use: the next one asked for cannot be had.
class DescriptorLimit {
public:
    DescriptorLimit() {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowestFree = ::dup(0);
        ::close(lowestFree);
        rlimit low = saved_;
        low.rlim_cur = rlim_t(lowestFree);
        ::setrlimit(RLIMIT_NOFILE, &low);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_{};
};

TEST_F(SessionTest, NoDescriptorsLeftFailsOpenAndStartWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
    // UBSan probes memory through a pipe of its own: without descriptors it reports every
    // object it checks as invalid.
    GTEST_SKIP() << "the sanitizers need descriptors of their own";
#endif
    {
        DescriptorLimit limit;
        EXPECT_FALSE(session->OpenSession(Parameters(kAdapter)));
    }
    EXPECT_FALSE(session->MessageText().empty());
    EXPECT_FALSE(session->EventsHeld());

    ASSERT_TRUE(session->OpenSession(Parameters(kAdapter)));
    {
        DescriptorLimit limit;
        EXPECT_FALSE(session->SetFiltering(true));  // no reader thread can be started
    }
    EXPECT_FALSE(session->MessageText().empty());
    EXPECT_FALSE(session->FilteringOn());
    EXPECT_FALSE(session->EventsHeld());
    EXPECT_FALSE(session->AdapterHandleOpen());
}

}  // namespace
