// The driver client against the real driver over the real control socket: enumeration of sim
// adapters, and whole sessions in which injected frames come back as statistics, queued
// records and log lines.
#include <arpa/inet.h>

#include <chrono>
#include <thread>

#include "tests/WaitUntil.h"
#include "tests/fv_gui/ClientFixture.h"
#include "tests/fv_gui/HostedDriver.h"
#include "fv_gui/client/DeviceAccess.h"

namespace {

using namespace fv::test;

constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;
constexpr std::uint32_t kListedRemote = Address(203, 0, 113, 9);
constexpr std::uint32_t kUnlistedRemote = Address(192, 0, 2, 44);

class DriverClientTest : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        host = std::make_unique<HostedDriver>(DeviceDir());
        ASSERT_TRUE(host->Loaded());
    }
    void TearDown() override {
        ClientFixture::TearDown();  // the session goes before the driver
        host.reset();
    }
    std::unique_ptr<HostedDriver> host;
};

TEST_F(DriverClientTest, EnumeratesBindingsInNameOrderWithTheirDetails) {
    host->Add("zeta0", NdisMedium802_3, {0x00, 0x0C, 0x29, 0xAB, 0xCD, 0xEF});
    host->Add("alpha0", NdisMediumWan);
    ASSERT_TRUE(session->CheckDriverVersion());
    EXPECT_TRUE(session->DriverPresent());
    const fv::AdapterList& list = session->Adapters();
    ASSERT_EQ(list.size(), 2u);
    auto it = list.begin();
    EXPECT_EQ(it->first, "alpha0");
    EXPECT_EQ(it->second.virtualDeviceName, "fv-alpha0");
    EXPECT_EQ(it->second.mediumName, "WAN");
    EXPECT_EQ(it->second.hardwareAddress, "");
    EXPECT_EQ(it->second.vendorDescription, "Simulated alpha0");
    ++it;
    EXPECT_EQ(it->first, "zeta0");
    EXPECT_EQ(it->second.lowerDeviceName, "zeta0");
    EXPECT_EQ(it->second.mediumName, "802.3");
    EXPECT_EQ(it->second.hardwareAddress, "00-0C-29-AB-CD-EF");
}

TEST_F(DriverClientTest, AnAdapterHeldByAnotherHandleIsLeftOut) {
    host->Add("eth0");
    host->Add("eth1");
    fv::AdapterList earlier;
    ASSERT_TRUE(fv::EnumerateAdapters(earlier));
    ASSERT_EQ(earlier.size(), 2u);
    fv::DeviceHandle holder = fv::OpenAdapterHandle("eth0");
    ASSERT_TRUE(holder.Valid());
    fv::AdapterList fresh;
    ASSERT_TRUE(fv::EnumerateAdapters(fresh));
    EXPECT_EQ(fresh.count("eth0"), 0u);
    EXPECT_EQ(fresh.count("eth1"), 1u);
    ASSERT_TRUE(fv::EnumerateAdapters(earlier));
    EXPECT_EQ(earlier.count("eth0"), 1u);  // seen before: it stays
    // The driver refuses a second holder: busy.
    EXPECT_FALSE(fv::OpenAdapterHandle("eth0").Valid());
    EXPECT_EQ(fv::GetLastError(), fv::kErrorBusy);
}

TEST_F(DriverClientTest, BlockedAndGrantedPacketsReachStatisticsQueuesAndLog) {
    host->Add("eth0");
    ASSERT_TRUE(session->CheckDriverVersion());
    ASSERT_TRUE(session->OpenSession(Parameters("eth0")));
    ASSERT_TRUE(session->SetFiltering(true));
    ndis::sim::Stack& stack = host->Stack();
    for (int i = 0; i < 3; ++i) stack.Send(HostedDriver::Outgoing(kListedRemote, kTcp, 40000 + i, 443));
    host->Adapter().IndicatePacket(HostedDriver::Incoming(Address(198, 51, 100, 8), kUdp, 53, 5353));
    stack.Send(HostedDriver::Outgoing(kUnlistedRemote, kUdp, 5000, 53));
    stack.Send(HostedDriver::Outgoing(kUnlistedRemote, kUdp, 5001, 53));
    ASSERT_TRUE(WaitUntil([&] {
        return statistics->GetRunningBlocked() == 4 && statistics->GetRunningGranted() == 2;
    }));
    // Blocked sends never reached the adapter; granted ones did.
    EXPECT_EQ(host->Adapter().SentCount(), 2u);
    ASSERT_TRUE(session->SetFiltering(false));
    EXPECT_TRUE(sink.messages.empty());

    const auto views = PopAllBlocked();
    ASSERT_EQ(views.size(), 4u);
    EXPECT_EQ(views[0].packet.remoteAddress, kListedRemote);
    EXPECT_EQ(views[0].packet.direction, 1);
    EXPECT_EQ(views[0].packet.protocol, kTcp);
    EXPECT_EQ(ntohs(views[0].packet.firstPort), 40000);
    EXPECT_EQ(ntohs(views[0].packet.secondPort), 443);
    EXPECT_STREQ(views[0].description, "Listed Net");
    EXPECT_STREQ(views[0].addressText, "203.0.113.9");
    EXPECT_EQ(views[3].packet.direction, 0);
    EXPECT_STREQ(views[3].description, "Other Net");
    const auto granted = PopAllGranted();
    ASSERT_EQ(granted.size(), 2u);
    EXPECT_EQ(granted[1].remoteAddress, kUnlistedRemote);

    const std::string log = ReadFile(LogFile());
    EXPECT_NE(log.find("There are 259 known IP addresses in 2 ranges.\r\n"), std::string::npos);
    EXPECT_NE(log.find("  [<-] BLOCKED [!] - Destination is Listed Net (203.0.113.9) [Protocol: "
                       "TCP - src: 40002 / dst: 443]\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("  [->] REJECTED - Source is Other Net (198.51.100.8) [Protocol: UDP - "
                       "src: 53 / dst: 5353]\r\n"),
              std::string::npos);
    const std::string grantedLine =
        "  [<-] non-hostile destination (192.0.2.44), access granted [Protocol: UDP - src: 5000 / "
        "dst: 53]\r\n";
    const auto first = log.find(grantedLine);
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("non-hostile destination (192.0.2.44)", first + grantedLine.size()),
              std::string::npos);
    EXPECT_NE(log.find("LOGGING STOPPED"), std::string::npos);
}

TEST_F(DriverClientTest, ReportSwitchesFollowTheSettings) {
    host->Add("eth0");
    settings->LogGrantedToFile.value = 0;
    ASSERT_TRUE(session->OpenSession(Parameters("eth0")));
    ASSERT_TRUE(session->SetFiltering(true));
    host->Stack().Send(HostedDriver::Outgoing(kUnlistedRemote, kUdp, 5000, 53));
    host->Stack().Send(HostedDriver::Outgoing(kListedRemote, kUdp, 5000, 53));
    ASSERT_TRUE(WaitUntil([&] { return statistics->GetRunningBlocked() == 1; }));
    // Switched on while filtering runs: the driver reports at once.
    session->SetReportGranted(true);
    host->Stack().Send(HostedDriver::Outgoing(kUnlistedRemote, kUdp, 5001, 53));
    ASSERT_TRUE(WaitUntil([&] { return statistics->GetRunningGranted() == 1; }));
    ASSERT_TRUE(session->SetFiltering(false));
    EXPECT_EQ(PopAllGranted().size(), 1u);
}

TEST_F(DriverClientTest, AnEmptyBlocklistFailsTheOpenAndReleasesTheEvents) {
    host->Add("eth0");
    WriteFile(Blocklist(), "");
    EXPECT_FALSE(session->OpenSession(Parameters("eth0")));
    EXPECT_FALSE(session->EventsHeld());
    session.reset();
    // The driver let go of the events and the adapter: a new session opens and filters.
    WriteFile(Blocklist(), "Listed Net:203.0.113.0-203.0.113.255\r\n");
    session = std::make_unique<fv::DriverSession>(&sink);
    ASSERT_TRUE(session->OpenSession(Parameters("eth0")));
    ASSERT_TRUE(session->SetFiltering(true));
    host->Stack().Send(HostedDriver::Outgoing(kListedRemote, kTcp, 1, 2));
    EXPECT_TRUE(WaitUntil([&] { return statistics->GetRunningBlocked() == 1; }));
}

TEST_F(DriverClientTest, StartingTwiceReleasesEventsAndAdapterForTheNextSession) {
    host->Add("eth0");
    ASSERT_TRUE(session->OpenSession(Parameters("eth0")));
    ASSERT_TRUE(session->SetFiltering(true));
    EXPECT_FALSE(session->SetFiltering(true));
    EXPECT_FALSE(session->AdapterHandleOpen());
    fv::DeviceHandle adapter = fv::OpenAdapterHandle("eth0");
    EXPECT_TRUE(adapter.Valid());
    adapter.Close();
    session->CloseSession();
    EXPECT_FALSE(session->WatcherExists(fv::RecordKind::Granted));
    session = std::make_unique<fv::DriverSession>(&sink);
    EXPECT_TRUE(session->OpenSession(Parameters("eth0")));
}

TEST_F(DriverClientTest, AnAdapterTheDriverDoesNotKnowFailsTheOpen) {
    host->Add("eth0");
    EXPECT_FALSE(session->OpenSession(Parameters("eth9")));
    EXPECT_FALSE(session->EventsHeld());
    EXPECT_FALSE(session->OpenSession(Parameters("")));
}

}  // namespace
