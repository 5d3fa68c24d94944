#include "fv_drv/Driver/FilterEngine.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "tests/fv_drv/FrameBuilder.h"

namespace {

using fv::test::BuildFrame;
using fv::test::FrameSpec;
using fv::test::Ip;
using fv::test::TestPacket;

TEST(CopyFrameBytes, CopiesAcrossTheBufferChain) {
    std::vector<std::uint8_t> frame(40);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = std::uint8_t(i);
    TestPacket packet(frame, {3, 4, 4, 20});  // includes an empty buffer
    std::uint8_t out[10] = {};
    ASSERT_EQ(CopyFrameBytes(packet.get(), out, 10, 1), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], i + 1);
    ASSERT_EQ(CopyFrameBytes(packet.get(), out, 4, 18), 4u);
    EXPECT_EQ(out[0], 18);
    EXPECT_EQ(out[3], 21);
}

TEST(CopyFrameBytes, ShortReadsAndMissingPacket) {
    TestPacket packet(std::vector<std::uint8_t>(13, 7), {5});
    std::uint8_t out[8];
    EXPECT_EQ(CopyFrameBytes(packet.get(), out, 8, 10), 3u);
    EXPECT_EQ(CopyFrameBytes(packet.get(), out, 2, 13), 0u);
    EXPECT_EQ(CopyFrameBytes(packet.get(), out, 2, 500), 0u);
    EXPECT_EQ(CopyFrameBytes(nullptr, out, 2, 0), 0u);
}

TEST(CopyFrameBytes, CountsAreCachedInThePacketOnFirstUse) {
    TestPacket packet(std::vector<std::uint8_t>(30, 1), {10});
    EXPECT_FALSE(packet.get()->Private.ValidCounts);
    std::uint8_t out[2];
    CopyFrameBytes(packet.get(), out, 2, 0);
    EXPECT_TRUE(packet.get()->Private.ValidCounts);
    EXPECT_EQ(packet.get()->Private.TotalLength, 30u);
    EXPECT_EQ(packet.get()->Private.Count, 2u);
}

// A FilterState with a table image and events the test can read.
class FilterPacketTest : public ::testing::Test {
protected:
    void SetUp() override {
        blockedFd = eventfd(0, EFD_NONBLOCK);
        grantedFd = eventfd(0, EFD_NONBLOCK);
        SetTable({{Ip(10, 0, 0, 0), 255}, {Ip(20, 0, 0, 5), 0}});
        EventRingRenew(state.BlockedRing);
        EventRingRenew(state.GrantedRing);
        state.FilteringEnabled = 1;
        state.BlockedEvent = ndis::host::CreateEventObject(blockedFd);
        state.GrantedEvent = ndis::host::CreateEventObject(grantedFd);
        NdisAllocateSpinLock(&lock);
    }
    void TearDown() override {
        EventRingRelease(state.BlockedRing);
        EventRingRelease(state.GrantedRing);
        ObDereferenceObject(state.BlockedEvent);
        ObDereferenceObject(state.GrantedEvent);
        close(blockedFd);
        close(grantedFd);
    }
    void SetTable(const std::vector<RangeEntry>& entries) {
        image.assign(RangeTableImageSize(entries.size()), 0);
        const std::uint32_t count = std::uint32_t(entries.size());
        std::memcpy(image.data(), &count, 4);
        std::memcpy(image.data() + 4, entries.data(), entries.size() * sizeof(RangeEntry));
        state.Ranges = reinterpret_cast<RangeTable*>(image.data());
    }
    int Send(const FrameSpec& s) {
        TestPacket p(BuildFrame(s));
        return FilterPacket(state, lock, p.get(), PacketDirection::Outgoing, false);
    }
    int Receive(const FrameSpec& s) {
        TestPacket p(BuildFrame(s));
        return FilterPacket(state, lock, p.get(), PacketDirection::Incoming, true);
    }
    static bool Signalled(int fd) {
        std::uint64_t v;
        return read(fd, &v, sizeof v) == sizeof v;
    }

    FilterState state;
    NDIS_SPIN_LOCK lock;
    std::vector<std::uint8_t> image;
    int blockedFd = -1;
    int grantedFd = -1;
};

TEST_F(FilterPacketTest, OutgoingToAListedAddressIsBlockedAndReported) {
    state.ReportBlocked = 1;
    FrameSpec s;
    s.destination = Ip(10, 0, 0, 77);
    s.sourcePort = 0x1234;
    s.destinationPort = 0x0050;
    EXPECT_EQ(Send(s), kVerdictBlock);
    EXPECT_EQ(state.SentCount, 1u);
    EXPECT_EQ(state.SentBlockedCount, 1u);
    EXPECT_TRUE(Signalled(blockedFd));
    PacketEventRecord r{};
    ASSERT_EQ(EventRingTake(state.BlockedRing, &r), STATUS_SUCCESS);
    EXPECT_EQ(ntohl(r.remoteAddress), Ip(10, 0, 0, 77));
    EXPECT_EQ(ntohs(r.firstPort), 0x1234);
    EXPECT_EQ(ntohs(r.secondPort), 0x0050);
    EXPECT_EQ(r.direction, 1);
    EXPECT_EQ(r.protocol, 6);
    EXPECT_EQ(EventRingPending(state.GrantedRing), 0u);
}

TEST_F(FilterPacketTest, BlockedWithoutReportingQueuesNothing) {
    FrameSpec s;
    s.destination = Ip(20, 0, 0, 5);
    EXPECT_EQ(Send(s), kVerdictBlock);
    EXPECT_EQ(state.SentBlockedCount, 1u);
    EXPECT_EQ(EventRingPending(state.BlockedRing), 0u);
    EXPECT_FALSE(Signalled(blockedFd));
    // Reporting on but no event: still blocked, still nothing queued.
    state.ReportBlocked = 1;
    ObDereferenceObject(state.BlockedEvent);
    state.BlockedEvent = nullptr;
    EXPECT_EQ(Send(s), kVerdictBlock);
    EXPECT_EQ(EventRingPending(state.BlockedRing), 0u);
    state.BlockedEvent = ndis::host::CreateEventObject(blockedFd);
}

TEST_F(FilterPacketTest, IncomingUnlistedIsGrantedAndNotCountedAsBlocked) {
    state.ReportGranted = 1;
    FrameSpec s;
    s.source = Ip(20, 0, 0, 6);  // one past a single-address entry
    s.destination = Ip(10, 0, 0, 1);  // a listed local address does not matter
    s.protocol = 17;
    EXPECT_EQ(Receive(s), kVerdictPass);
    EXPECT_EQ(state.ReceivedCount, 1u);
    EXPECT_EQ(state.ReceivedBlockedCount, 0u);
    EXPECT_TRUE(Signalled(grantedFd));
    PacketEventRecord r{};
    ASSERT_EQ(EventRingTake(state.GrantedRing, &r), STATUS_SUCCESS);
    EXPECT_EQ(ntohl(r.remoteAddress), Ip(20, 0, 0, 6));
    EXPECT_EQ(r.direction, 0);
    EXPECT_EQ(r.protocol, 17);
}

TEST_F(FilterPacketTest, IncomingIsJudgedBySource) {
    FrameSpec s;
    s.source = Ip(10, 0, 0, 255);
    s.destination = Ip(8, 8, 8, 8);
    EXPECT_EQ(Receive(s), kVerdictBlock);
    EXPECT_EQ(state.ReceivedBlockedCount, 1u);
    s.source = Ip(10, 0, 1, 0);
    EXPECT_EQ(Receive(s), kVerdictPass);
}

TEST_F(FilterPacketTest, FilteringOffOrNoTablePassesAndOnlyCounts) {
    state.ReportBlocked = state.ReportGranted = 1;
    FrameSpec s;
    s.destination = Ip(10, 0, 0, 1);
    state.FilteringEnabled = 0;
    EXPECT_EQ(Send(s), kVerdictPass);
    state.FilteringEnabled = 1;
    state.Ranges = nullptr;
    EXPECT_EQ(Receive(s), kVerdictPass);
    EXPECT_EQ(state.SentCount, 1u);
    EXPECT_EQ(state.ReceivedCount, 1u);
    EXPECT_EQ(state.SentBlockedCount + state.ReceivedBlockedCount, 0u);
    EXPECT_EQ(EventRingPending(state.BlockedRing) + EventRingPending(state.GrantedRing), 0u);
}

TEST_F(FilterPacketTest, ShortAndNonIpv4FramesPassUnreported) {
    state.ReportBlocked = state.ReportGranted = 1;
    FrameSpec listed;
    listed.destination = Ip(10, 0, 0, 1);
    std::vector<std::uint8_t> full = BuildFrame(listed);

    TestPacket thirteen(std::vector<std::uint8_t>(full.begin(), full.begin() + 13));
    EXPECT_EQ(FilterPacket(state, lock, thirteen.get(), PacketDirection::Outgoing, false),
              kVerdictPass);
    TestPacket shortIp(std::vector<std::uint8_t>(full.begin(), full.begin() + 14 + 19), {20});
    EXPECT_EQ(FilterPacket(state, lock, shortIp.get(), PacketDirection::Outgoing, false),
              kVerdictPass);
    FrameSpec v6 = listed;
    v6.etherType = 0x86DD;
    EXPECT_EQ(Send(v6), kVerdictPass);
    FrameSpec version6 = listed;
    version6.version = 6;
    EXPECT_EQ(Send(version6), kVerdictPass);
    EXPECT_EQ(FilterPacket(state, lock, nullptr, PacketDirection::Incoming, true), kVerdictPass);

    EXPECT_EQ(state.SentCount, 4u);
    EXPECT_EQ(state.ReceivedCount, 1u);
    EXPECT_EQ(EventRingPending(state.BlockedRing) + EventRingPending(state.GrantedRing), 0u);
}

TEST_F(FilterPacketTest, PortsComeFromFixedOffsets) {
    state.ReportGranted = 1;
    FrameSpec icmp;
    icmp.protocol = 1;
    EXPECT_EQ(Send(icmp), kVerdictPass);
    PacketEventRecord r{};
    ASSERT_EQ(EventRingTake(state.GrantedRing, &r), STATUS_SUCCESS);
    EXPECT_EQ(r.firstPort, 0);
    EXPECT_EQ(r.secondPort, 0);

    // With a 24-byte header the port fields hold the option bytes at 34-37.
    FrameSpec options;
    options.optionWords = 1;
    EXPECT_EQ(Send(options), kVerdictPass);
    ASSERT_EQ(EventRingTake(state.GrantedRing, &r), STATUS_SUCCESS);
    const std::uint8_t* p = reinterpret_cast<const std::uint8_t*>(&r.firstPort);
    EXPECT_EQ(p[0], 0xA0 + 20);
    EXPECT_EQ(p[3], 0xA0 + 23);

    // A TCP frame that ends inside the ports: ports 0, the address still decides.
    std::vector<std::uint8_t> cut = BuildFrame(FrameSpec{});
    cut.resize(kPortsOffset + 3);
    TestPacket packet(cut, {15, 35});
    EXPECT_EQ(FilterPacket(state, lock, packet.get(), PacketDirection::Outgoing, false),
              kVerdictPass);
    ASSERT_EQ(EventRingTake(state.GrantedRing, &r), STATUS_SUCCESS);
    EXPECT_EQ(r.firstPort, 0);
    EXPECT_EQ(r.secondPort, 0);
    EXPECT_EQ(ntohl(r.remoteAddress), Ip(8, 8, 8, 8));
}

TEST_F(FilterPacketTest, CountersWrapAt32Bits) {
    state.SentCount = 0xFFFFFFFF;
    Send(FrameSpec{});
    EXPECT_EQ(state.SentCount, 0u);
}

}  // namespace
