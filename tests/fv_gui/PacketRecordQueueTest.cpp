#include "fv_gui/logging/PacketRecordQueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

fv::BlockedPacketView View(std::uint32_t address) {
    fv::BlockedPacketView view{};
    view.packet.remoteAddress = address;
    std::snprintf(view.description, sizeof view.description, "range %u", address);
    std::snprintf(view.addressText, sizeof view.addressText, "%u", address);
    return view;
}

TEST(PacketRecordQueue, EmptyPopLeavesBufferAlone) {
    fv::PacketRecordQueue queue;
    fv::BlockedPacketView view = View(42);
    EXPECT_FALSE(queue.PopBlocked(view));
    EXPECT_EQ(view.packet.remoteAddress, 42u);
    EXPECT_STREQ(view.description, "range 42");
    PacketEventRecord record{};
    record.protocol = 9;
    EXPECT_FALSE(queue.PopGranted(record));
    EXPECT_EQ(record.protocol, 9);
}

TEST(PacketRecordQueue, FirstInFirstOut) {
    fv::PacketRecordQueue queue;
    for (std::uint32_t i = 1; i <= 3; ++i) {
        queue.PushBlocked(View(i));
        PacketEventRecord record{};
        record.remoteAddress = i;
        queue.PushGranted(record);
    }
    for (std::uint32_t i = 1; i <= 3; ++i) {
        fv::BlockedPacketView view{};
        ASSERT_TRUE(queue.PopBlocked(view));
        EXPECT_EQ(view.packet.remoteAddress, i);
        EXPECT_EQ(std::string(view.description), "range " + std::to_string(i));
        PacketEventRecord record{};
        ASSERT_TRUE(queue.PopGranted(record));
        EXPECT_EQ(record.remoteAddress, i);
    }
}

TEST(PacketRecordQueue, ClearRemovesWaitingRecords) {
    fv::PacketRecordQueue queue;
    queue.PushBlocked(View(1));
    queue.PushBlocked(View(2));
    queue.PushGranted(PacketEventRecord{});
    queue.ClearBlocked();
    queue.ClearGranted();
    fv::BlockedPacketView view{};
    EXPECT_FALSE(queue.PopBlocked(view));
    PacketEventRecord record{};
    EXPECT_FALSE(queue.PopGranted(record));
}

TEST(PacketRecordQueue, StorageIsReused) {
    fv::PacketRecordQueue queue;
    for (int round = 0; round < 3; ++round) {
        for (std::uint32_t i = 0; i < 100; ++i) queue.PushBlocked(View(i));
        fv::BlockedPacketView view{};
        for (std::uint32_t i = 0; i < 100; ++i) {
            ASSERT_TRUE(queue.PopBlocked(view));
            ASSERT_EQ(view.packet.remoteAddress, i);
        }
    }
    EXPECT_EQ(queue.BlockedCapacity(), 128u);
    // Wrapping around the ring keeps the order.
    for (std::uint32_t i = 0; i < 1000; ++i) {
        queue.PushBlocked(View(i));
        if (i % 2 == 1) {
            fv::BlockedPacketView view{};
            ASSERT_TRUE(queue.PopBlocked(view));
            ASSERT_EQ(view.packet.remoteAddress, i / 2);
        }
    }
}

TEST(PacketRecordQueue, ProducersAndConsumersInParallel) {
    fv::PacketRecordQueue queue;
    constexpr std::uint32_t kCount = 20000;
    std::thread blocked([&] {
        for (std::uint32_t i = 0; i < kCount; ++i) queue.PushBlocked(View(i));
    });
    std::thread granted([&] {
        for (std::uint32_t i = 0; i < kCount; ++i) {
            PacketEventRecord record{};
            record.remoteAddress = i;
            queue.PushGranted(record);
        }
    });
    std::uint32_t nextBlocked = 0;
    std::uint32_t nextGranted = 0;
    while (nextBlocked < kCount || nextGranted < kCount) {
        fv::BlockedPacketView view;
        if (queue.PopBlocked(view)) {
            ASSERT_EQ(view.packet.remoteAddress, nextBlocked++);
        }
        PacketEventRecord record;
        if (queue.PopGranted(record)) {
            ASSERT_EQ(record.remoteAddress, nextGranted++);
        }
    }
    blocked.join();
    granted.join();
}

}  // namespace
