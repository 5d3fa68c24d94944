// A new blocklist put in force while the filter runs: against the real driver (a listed packet
// never passes, a failed swap keeps the table in force) and against a scripted one (the records
// waiting in the driver are taken before the upload renews its rings).
#include <arpa/inet.h>

#include <chrono>
#include <thread>

#include "fv_drv/Driver/AdapterBinding.h"
#include "fv_drv/ndis/ndis_memory.h"
#include "tests/WaitUntil.h"
#include "tests/fv_gui/HostedDriver.h"
#include "tests/fv_gui/ScriptedSessionFixture.h"

namespace {

using namespace fv::test;

constexpr std::uint8_t kTcp = 6;
constexpr std::uint32_t kInBoth = Address(203, 0, 113, 9);
constexpr std::uint32_t kOnlyInNew = Address(192, 0, 2, 44);
constexpr char kNewList[] = "Listed Net v2:203.0.113.0-203.0.113.255\r\nNew Net:192.0.2.0-192.0.2.255\r\n";

class HostedSwapTest : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        host = std::make_unique<HostedDriver>(DeviceDir());
        ASSERT_TRUE(host->Loaded());
        host->Add("eth0");
        ASSERT_TRUE(session->OpenSession(Parameters("eth0")));
        ASSERT_TRUE(session->SetFiltering(true));
    }
    void TearDown() override {
        ndis::test::FailAllocations(kDriverPoolTag, 0);
        ClientFixture::TearDown();  // the session goes before the driver
        host.reset();
    }
    // Whether a frame to `remote` left through the adapter.
    bool Passes(std::uint32_t remote) {
        const auto before = host->Adapter().SentCount();
        host->Stack().Send(HostedDriver::Outgoing(remote, kTcp, 40000, 443));
        return host->Adapter().SentCount() != before;
    }
    std::unique_ptr<HostedDriver> host;
};

TEST_F(HostedSwapTest, TheNewTableTakesOverWithoutStoppingTheFilter) {
    ASSERT_FALSE(Passes(kInBoth));
    ASSERT_TRUE(Passes(kOnlyInNew));
    WriteFile(Blocklist(), kNewList);
    ASSERT_TRUE(session->ReplaceRanges());
    EXPECT_TRUE(session->FilteringOn());
    EXPECT_FALSE(Passes(kInBoth));
    EXPECT_FALSE(Passes(kOnlyInNew));
    ASSERT_TRUE(WaitUntil([&] { return statistics->GetRunningBlocked() == 3; }));
    EXPECT_EQ(session->Blocklist()->RangeCount(), 2);
    ASSERT_TRUE(session->SetFiltering(false));

    const auto views = PopAllBlocked();
    ASSERT_EQ(views.size(), 3u);
    EXPECT_STREQ(views[1].description, "Listed Net v2");
    EXPECT_STREQ(views[2].description, "New Net");
    // The log started again with the new table's counts, and names its ranges.
    const std::string log = ReadFile(LogFile());
    const auto renewed = log.find("There are 512 known IP addresses in 2 ranges.\r\n");
    ASSERT_NE(renewed, std::string::npos);
    EXPECT_NE(log.find("Destination is New Net (192.0.2.44)", renewed), std::string::npos);
    EXPECT_TRUE(sink.messages.empty());
}

// A log moved to another folder while filtering stays there when the new table comes.
TEST_F(HostedSwapTest, TheLogGoesOnInTheFolderItWasMovedTo) {
    std::filesystem::create_directories(dir / "moved");
    ASSERT_TRUE(session->Log()->ChangeFolder(dir / "moved/"));
    WriteFile(Blocklist(), kNewList);
    ASSERT_TRUE(session->ReplaceRanges());
    EXPECT_EQ(session->Log()->CurrentPath(), dir / "moved/fvconns.log");
    EXPECT_FALSE(Passes(kOnlyInNew));
    ASSERT_TRUE(WaitUntil([&] { return statistics->GetRunningBlocked() == 1; }));
    ASSERT_TRUE(session->SetFiltering(false));
    EXPECT_NE(ReadFile(dir / "moved/fvconns.log").find("Destination is New Net (192.0.2.44)"),
              std::string::npos);
}

// Every way the new table can fail leaves the old one blocking, here and in the driver.
TEST_F(HostedSwapTest, AFailedSwapKeepsTheTableInForce) {
    const auto oldTable = session->Blocklist();
    const auto expectKept = [&](fv::SessionStep step, const char* what) {
        EXPECT_EQ(session->ReplaceFailure().step, step) << what;
        EXPECT_EQ(session->Blocklist(), oldTable) << what;
        EXPECT_TRUE(session->FilteringOn()) << what;
        EXPECT_FALSE(Passes(kInBoth)) << what;
        EXPECT_TRUE(Passes(kOnlyInNew)) << what;
    };

    WriteFile(Blocklist(), kNewList);
    ndis::test::FailAllocations(kDriverPoolTag, 1);
    EXPECT_FALSE(session->ReplaceRanges());
    expectKept(fv::SessionStep::Upload, "no driver memory");
    EXPECT_EQ(session->ReplaceFailure().error, fv::kErrorNoSystemResources);

    WriteFile(Blocklist(), "");
    EXPECT_FALSE(session->ReplaceRanges());
    expectKept(fv::SessionStep::EmptyBlocklist, "an empty file");

    std::filesystem::remove(Blocklist());
    EXPECT_FALSE(session->ReplaceRanges());
    expectKept(fv::SessionStep::Blocklist, "no file");
    EXPECT_EQ(session->ReplaceFailure().error, fv::kErrorFileNotFound);

    // And a later good file still goes in.
    WriteFile(Blocklist(), kNewList);
    EXPECT_TRUE(session->ReplaceRanges());
    EXPECT_FALSE(Passes(kOnlyInNew));
}

PacketEventRecord BlockedRecord(std::uint32_t hostAddress) {
    PacketEventRecord r{};
    r.remoteAddress = htonl(hostAddress);
    r.direction = 1;
    r.protocol = kTcp;
    return r;
}

class ScriptedSwapTest : public ScriptedSessionFixture {};

// The upload renews the driver's rings: what they hold must have been read by then.
TEST_F(ScriptedSwapTest, RecordsWaitingInTheDriverAreTakenBeforeTheUpload) {
    ASSERT_TRUE(session->OpenSession(Parameters(kAdapter)));
    ASSERT_TRUE(session->SetFiltering(true));
    std::size_t discarded = 0;
    bool uploaded = false;
    {
        auto lock = driver->Lock();
        // Not signalled: no reader takes them on its own.
        for (int i = 0; i < 3; ++i) driver->blocked.push_back(BlockedRecord(kInBoth));
        driver->granted.push_back(BlockedRecord(kOnlyInNew));
        driver->script = [&](std::uint32_t code, std::uint8_t*, std::uint32_t, std::uint32_t,
                             std::uint32_t*) -> std::optional<std::uint32_t> {
            if (code != IOCTL_SET_RANGES) return std::nullopt;
            uploaded = true;
            discarded += driver->blocked.size() + driver->granted.size();
            driver->blocked.clear();
            driver->granted.clear();
            return STATUS_SUCCESS;
        };
    }
    WriteFile(Blocklist(), kNewList);
    ASSERT_TRUE(session->ReplaceRanges());
    {
        auto lock = driver->Lock();
        EXPECT_TRUE(uploaded);
        EXPECT_EQ(discarded, 0u);
    }
    EXPECT_EQ(statistics->GetRunningBlocked(), 3u);
    EXPECT_EQ(statistics->GetRunningGranted(), 1u);
    // Taken while the old table was in force: described by it.
    const auto views = PopAllBlocked();
    ASSERT_EQ(views.size(), 3u);
    EXPECT_STREQ(views[0].description, "Listed Net");
}

}  // namespace
