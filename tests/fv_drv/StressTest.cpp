// Several senders, one receiver, pending completions and a control thread that swaps tables and
// toggles filtering, all at once: every packet completes exactly once and the counters add up.
#include <atomic>
#include <random>
#include <thread>

#include "tests/fv_drv/DriverHarness.h"

namespace fv::test {
namespace {

constexpr int kSenders = 3;
constexpr int kBatchesPerSender = 400;
constexpr int kBatchSize = 8;
constexpr int kReceived = 4000;

using StressTest = DriverTest;

TEST_F(StressTest, ConcurrentPathsCompleteEveryPacketOnceAndCountEverything) {
    ndis::sim::Adapter& adapter = AddAdapter(SimConfig(0));
    AdapterBinding* binding = BindingOf(adapter);
    ASSERT_NE(binding, nullptr);
    ndis::sim::Stack& stack = StackOver(adapter);
    adapter.Sends = ndis::sim::Completion::Deferred;
    stack.HoldPackets = true;
    Block(binding, kListed);

    std::atomic<int> sendersLeft{kSenders};
    std::atomic<bool> receiverDone{false};
    std::vector<std::thread> threads;
    for (int s = 0; s < kSenders; ++s) {
        threads.emplace_back([&, s] {
            std::mt19937 rng(s);
            for (int b = 0; b < kBatchesPerSender; ++b) {
                std::vector<ndis::sim::Frame> batch;
                for (int i = 0; i < kBatchSize; ++i) {
                    batch.push_back(Outgoing(rng() % 2 ? Ip(203, 0, 113, rng() % 256)
                                                       : Ip(198, 51, 100, rng() % 256)));
                }
                stack.Send(batch);
            }
            --sendersLeft;
        });
    }
    threads.emplace_back([&] {
        std::mt19937 rng(99);
        for (int i = 0; i < kReceived; ++i) {
            const auto frame = Incoming(rng() % 2 ? Ip(203, 0, 113, 9) : Ip(198, 51, 100, 9));
            switch (i % 3) {
                case 0: adapter.IndicatePacket(frame); break;
                case 1: adapter.IndicatePacket(frame, NDIS_STATUS_RESOURCES); break;
                default: adapter.IndicateLookahead(frame, 20, true); break;
            }
            if (i % 50 == 0) stack.ReturnHeld();
        }
        receiverDone = true;
    });
    threads.emplace_back([&] {
        while (sendersLeft.load() != 0 || !receiverDone.load()) adapter.CompletePendingSends();
    });
    threads.emplace_back([&] {
        int round = 0;
        while (sendersLeft.load() != 0 || !receiverDone.load()) {
            Block(binding, round % 2 ? kListed : std::vector<RangeEntry>{{Ip(203, 0, 113, 0), 127}});
            NdisAcquireSpinLock(&binding->Lock);
            binding->Filter.FilteringEnabled = std::uint8_t(round % 3 != 0);
            NdisReleaseSpinLock(&binding->Lock);
            ++round;
        }
    });
    for (std::thread& t : threads) t.join();
    adapter.CompletePendingSends();
    stack.ReturnHeld();

    constexpr std::size_t kSent = std::size_t(kSenders) * kBatchesPerSender * kBatchSize;
    const auto completions = stack.SendCompletions();
    ASSERT_EQ(completions.size(), kSent);
    for (const auto& [id, statuses] : completions) {
        ASSERT_LT(id, kSent);
        ASSERT_EQ(statuses, std::vector<NDIS_STATUS>{NDIS_STATUS_SUCCESS}) << "packet " << id;
    }
    EXPECT_EQ(stack.SendsOutstanding(), 0u);
    EXPECT_EQ(binding->OutstandingSends.load(), 0);

    const auto counters = Counters(binding);
    EXPECT_EQ(counters.SentCount, kSent);
    EXPECT_EQ(adapter.SentCount() + counters.SentBlockedCount, kSent);
    EXPECT_EQ(counters.ReceivedCount, std::uint32_t(kReceived));
    EXPECT_EQ(stack.Received().size() + counters.ReceivedBlockedCount, std::size_t(kReceived));
    EXPECT_EQ(adapter.PacketsHeld(), 0u);
    EXPECT_EQ(NdisPacketPoolUsage(binding->SendPacketPool), 0u);
    EXPECT_EQ(NdisPacketPoolUsage(binding->ReceivePacketPool), 0u);
}

}  // namespace
}  // namespace fv::test
