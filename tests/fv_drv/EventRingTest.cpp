#include "fv_drv/Driver/EventRing.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

PacketEventRecord Record(std::uint32_t n) {
    PacketEventRecord r{};
    r.remoteAddress = n;
    r.firstPort = std::uint16_t(n);
    r.secondPort = std::uint16_t(n >> 16);
    r.direction = std::uint8_t(n & 1);
    r.protocol = 6;
    return r;
}

class EventRingTest : public ::testing::Test {
protected:
    void SetUp() override { EventRingRenew(ring); }
    void TearDown() override { EventRingRelease(ring); }
    EventRing ring;
};

TEST_F(EventRingTest, TakesInOrderAndFailsWhenEmpty) {
    for (std::uint32_t i = 1; i <= 3; ++i) EventRingAppend(ring, Record(i));
    for (std::uint32_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(EventRingPending(ring), 4 - i);
        PacketEventRecord out{};
        ASSERT_EQ(EventRingTake(ring, &out), STATUS_SUCCESS);
        EXPECT_EQ(out.remoteAddress, i);
    }
    EXPECT_EQ(EventRingPending(ring), 0u);
    PacketEventRecord out{};
    EXPECT_EQ(EventRingTake(ring, &out), STATUS_INVALID_PARAMETER);
}

TEST_F(EventRingTest, WriterLappingTheReaderOverwritesAndTheCountGrowsPastCapacity) {
    for (std::uint32_t i = 1; i <= std::uint32_t(kEventRingSlots) + 1; ++i) {
        EventRingAppend(ring, Record(i));
    }
    EXPECT_EQ(EventRingPending(ring), std::uint32_t(kEventRingSlots) + 1);
    PacketEventRecord out{};
    ASSERT_EQ(EventRingTake(ring, &out), STATUS_SUCCESS);
    EXPECT_EQ(out.remoteAddress, std::uint32_t(kEventRingSlots) + 1);  // slot 0, overwritten
    ASSERT_EQ(EventRingTake(ring, &out), STATUS_SUCCESS);
    EXPECT_EQ(out.remoteAddress, 2u);  // slot 1
    // The reader goes round the whole ring and then reads slot 0 a second time.
    for (int i = 2; i < kEventRingSlots; ++i) ASSERT_EQ(EventRingTake(ring, &out), STATUS_SUCCESS);
    EXPECT_EQ(out.remoteAddress, std::uint32_t(kEventRingSlots));
    ASSERT_EQ(EventRingTake(ring, &out), STATUS_SUCCESS);
    EXPECT_EQ(out.remoteAddress, std::uint32_t(kEventRingSlots) + 1);
    EXPECT_EQ(EventRingTake(ring, &out), STATUS_INVALID_PARAMETER);
}

TEST_F(EventRingTest, ResetBetweenAppendsAndTakesDiscardsAndKeepsStorage) {
    EventRingAppend(ring, Record(1));
    EventRingAppend(ring, Record(2));
    PacketEventRecord* storage = ring.storage;
    EventRingReset(ring);
    EXPECT_EQ(EventRingPending(ring), 0u);
    PacketEventRecord out{};
    EXPECT_EQ(EventRingTake(ring, &out), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ring.storage, storage);
    EventRingAppend(ring, Record(9));
    ASSERT_EQ(EventRingTake(ring, &out), STATUS_SUCCESS);
    EXPECT_EQ(out.remoteAddress, 9u);
}

TEST_F(EventRingTest, RenewDiscardsEverything) {
    EventRingAppend(ring, Record(1));
    EventRingRenew(ring);
    EXPECT_EQ(EventRingPending(ring), 0u);
    PacketEventRecord out{};
    EXPECT_EQ(EventRingTake(ring, &out), STATUS_INVALID_PARAMETER);
}

TEST_F(EventRingTest, SpareBytesNeverCarryEarlierMemory) {
    ndis::test::FillAllocations(kEventRingPoolTag, 0xEE);
    EventRingRenew(ring);
    ndis::test::FillAllocations(kEventRingPoolTag, -1);
    EventRingAppend(ring, Record(5));
    PacketEventRecord out{};
    out.padding[0] = out.padding[1] = 0x55;
    ASSERT_EQ(EventRingTake(ring, &out), STATUS_SUCCESS);
    EXPECT_EQ(out.padding[0], 0);
    EXPECT_EQ(out.padding[1], 0);
}

TEST(EventRing, WithoutStorageAppendsVanishAndTakesFail) {
    EventRing ring;
    EventRingAppend(ring, Record(1));
    EXPECT_EQ(EventRingPending(ring), 0u);
    PacketEventRecord out{};
    EXPECT_EQ(EventRingTake(ring, &out), STATUS_INVALID_PARAMETER);
}

TEST(EventRing, FailedAllocationLeavesTheRingWithoutStorage) {
    EventRing ring;
    EventRingRenew(ring);
    ASSERT_NE(ring.storage, nullptr);
    EventRingAppend(ring, Record(1));
    ndis::test::FailAllocations(kEventRingPoolTag, 1);
    EventRingRenew(ring);
    EXPECT_EQ(ring.storage, nullptr);
    EXPECT_EQ(EventRingPending(ring), 0u);
    EventRingAppend(ring, Record(2));
    PacketEventRecord out{};
    EXPECT_EQ(EventRingTake(ring, &out), STATUS_INVALID_PARAMETER);
    EventRingRenew(ring);  // the next renewal allocates again
    EXPECT_NE(ring.storage, nullptr);
    EventRingRelease(ring);
    EXPECT_EQ(ndis::test::OutstandingAllocations(kEventRingPoolTag), 0);
}

}  // namespace
