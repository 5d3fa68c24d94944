// The send path and the two receive paths with the filter in between.
#include <thread>

#include "tests/fv_drv/DriverHarness.h"
#include "fv_drv/Driver/Handlers.h"

namespace fv::test {
namespace {

const std::uint32_t kListedAddress = Ip(203, 0, 113, 7);
const std::uint32_t kOtherAddress = Ip(198, 51, 100, 1);

class PacketPathTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        StartOn(NdisMedium802_3);
    }
    void StartOn(NDIS_MEDIUM medium) {
        adapter = &AddAdapter(SimConfig(int(adapters.size()), medium));
        binding = BindingOf(*adapter);
        ASSERT_NE(binding, nullptr);
        stack = &StackOver(*adapter);
        Block(binding, kListed);
    }
    ndis::sim::Adapter* adapter = nullptr;
    AdapterBinding* binding = nullptr;
    ndis::sim::Stack* stack = nullptr;
};

TEST_F(PacketPathTest, BlockedSendCompletesWithSuccessAndNeverReachesTheAdapter) {
    const std::uint64_t id = stack->Send(Outgoing(kListedAddress));
    EXPECT_EQ(adapter->SentCount(), 0u);
    auto completions = stack->SendCompletions();
    ASSERT_EQ(completions[id].size(), 1u);
    EXPECT_EQ(completions[id][0], NDIS_STATUS_SUCCESS);
    EXPECT_EQ(Counters(binding).SentCount, 1u);
    EXPECT_EQ(Counters(binding).SentBlockedCount, 1u);
}

TEST_F(PacketPathTest, PassedSendsCarryTheFrameAndTheAdaptersStatus) {
    const auto frame = Outgoing(kOtherAddress);
    stack->Send(std::vector<ndis::sim::Frame>{frame, Outgoing(kListedAddress), frame});
    ASSERT_EQ(adapter->SentFrames(), (std::vector<ndis::sim::Frame>{frame, frame}));

    adapter->SendStatus = NDIS_STATUS_FAILURE;
    const std::uint64_t failed = stack->Send(frame);
    auto completions = stack->SendCompletions();
    EXPECT_EQ(completions.size(), 4u);
    EXPECT_EQ(completions[failed], std::vector<NDIS_STATUS>{NDIS_STATUS_FAILURE});
    EXPECT_EQ(binding->OutstandingSends.load(), 0);
    EXPECT_EQ(NdisPacketPoolUsage(binding->SendPacketPool), 0u);
}

TEST_F(PacketPathTest, PendingSendCompletesUpLater) {
    adapter->Sends = ndis::sim::Completion::Deferred;
    const std::uint64_t id = stack->Send(Outgoing(kOtherAddress));
    EXPECT_TRUE(stack->SendCompletions().empty());
    EXPECT_EQ(binding->OutstandingSends.load(), 1);
    EXPECT_EQ(adapter->CompletePendingSends(), 1u);
    EXPECT_EQ(stack->SendCompletions()[id], std::vector<NDIS_STATUS>{NDIS_STATUS_SUCCESS});
    EXPECT_EQ(binding->OutstandingSends.load(), 0);
}

TEST_F(PacketPathTest, SendsFailInLowPowerAndWhenDescriptorsRunOut) {
    ndis::test::FailPacketAllocations(binding->SendPacketPool, 1);
    const std::uint64_t starved = stack->Send(Outgoing(kOtherAddress));
    EXPECT_EQ(stack->SendCompletions()[starved], std::vector<NDIS_STATUS>{NDIS_STATUS_RESOURCES});
    EXPECT_EQ(binding->OutstandingSends.load(), 0);  // or unbinding would wait forever

    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    const std::uint64_t asleep = stack->Send(Outgoing(kOtherAddress));
    EXPECT_EQ(stack->SendCompletions()[asleep], std::vector<NDIS_STATUS>{NDIS_STATUS_FAILURE});
    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);

    auto set = stack->Set(OID_PNP_SET_POWER, PowerState(NdisDeviceStateD3));
    ASSERT_EQ(set->Status, NDIS_STATUS_SUCCESS);
    const std::uint64_t virtualAsleep = stack->Send(Outgoing(kListedAddress));
    EXPECT_EQ(stack->SendCompletions()[virtualAsleep], std::vector<NDIS_STATUS>{NDIS_STATUS_FAILURE});
    EXPECT_EQ(Counters(binding).SentCount, 2u);  // the sleeping adapter never filtered it
    EXPECT_EQ(adapter->SentCount(), 0u);
}

TEST_F(PacketPathTest, BlockedPacketIsReturnedAtOnceAndNeverIndicated) {
    adapter->IndicatePacket(Incoming(kListedAddress));
    EXPECT_TRUE(stack->Received().empty());
    EXPECT_EQ(adapter->PacketsReturned(), 1u);
    EXPECT_EQ(adapter->PacketsHeld(), 0u);
    EXPECT_EQ(Counters(binding).ReceivedBlockedCount, 1u);
}

TEST_F(PacketPathTest, PassedPacketGoesUpAndBackWhenTheStackIsDone) {
    const auto frame = Incoming(kOtherAddress);
    stack->HoldPackets = true;
    adapter->IndicatePacket(frame);
    auto received = stack->Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Bytes, frame);
    EXPECT_EQ(received[0].HeaderSize, 14u);
    EXPECT_EQ(received[0].Status, NDIS_STATUS_SUCCESS);
    EXPECT_EQ(adapter->PacketsHeld(), 1u);  // the stack still has it
    EXPECT_EQ(stack->ReturnHeld(), 1u);
    EXPECT_EQ(adapter->PacketsHeld(), 0u);
    EXPECT_EQ(NdisPacketPoolUsage(binding->ReceivePacketPool), 0u);

    stack->HoldPackets = false;
    adapter->IndicatePacket(frame);  // copied at once: returned before the indication ends
    EXPECT_EQ(adapter->PacketsHeld(), 0u);
    EXPECT_EQ(adapter->PacketsReturned(), 2u);
}

TEST_F(PacketPathTest, PacketTheAdapterWantsBackIsCopiedAbove) {
    stack->HoldPackets = true;
    adapter->IndicatePacket(Incoming(kOtherAddress), NDIS_STATUS_RESOURCES);
    auto received = stack->Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Status, NDIS_STATUS_RESOURCES);
    EXPECT_EQ(stack->ReturnHeld(), 0u);
    EXPECT_EQ(NdisPacketPoolUsage(binding->ReceivePacketPool), 0u);
}

TEST_F(PacketPathTest, ReceivedPacketIsReturnedWhenItCannotGoUp) {
    ndis::test::FailPacketAllocations(binding->ReceivePacketPool, 1);
    adapter->IndicatePacket(Incoming(kOtherAddress));
    EXPECT_TRUE(stack->Received().empty());
    EXPECT_EQ(adapter->PacketsReturned(), 1u);

    ASSERT_EQ(stack->Set(OID_PNP_SET_POWER, PowerState(NdisDeviceStateD2))->Status,
              NDIS_STATUS_SUCCESS);
    adapter->IndicatePacket(Incoming(kOtherAddress));
    EXPECT_EQ(adapter->IndicateLookahead(Incoming(kOtherAddress), 20, false), NDIS_STATUS_FAILURE);
    EXPECT_TRUE(stack->Received().empty());
    EXPECT_TRUE(stack->Lookaheads().empty());
    EXPECT_EQ(adapter->PacketsReturned(), 2u);
}

TEST_F(PacketPathTest, BlockedLookaheadIndicatesNothing) {
    EXPECT_EQ(adapter->IndicateLookahead(Incoming(kListedAddress), 40, true), NDIS_STATUS_SUCCESS);
    adapter->IndicateReceiveComplete();
    EXPECT_TRUE(stack->Received().empty());
    EXPECT_TRUE(stack->Lookaheads().empty());
    EXPECT_TRUE(stack->ReceiveCompletes().empty());
    EXPECT_EQ(Counters(binding).ReceivedBlockedCount, 1u);
}

TEST_F(PacketPathTest, PassedLookaheadWithDescriptorGoesUpAsAPacketToCopy) {
    const auto frame = Incoming(kOtherAddress);
    stack->HoldPackets = true;
    EXPECT_EQ(adapter->IndicateLookahead(frame, 20, true), NDIS_STATUS_SUCCESS);
    auto received = stack->Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Bytes, frame);
    EXPECT_EQ(received[0].Status, NDIS_STATUS_RESOURCES);
    EXPECT_TRUE(stack->Lookaheads().empty());
    adapter->IndicateReceiveComplete();
    EXPECT_TRUE(stack->ReceiveCompletes().empty());  // nothing was owed
    EXPECT_EQ(NdisPacketPoolUsage(binding->ReceivePacketPool), 0u);
}

TEST_F(PacketPathTest, LookaheadWithoutDescriptorPassesEvenFromAListedSource) {
    const auto frame = Incoming(kListedAddress);
    EXPECT_EQ(adapter->IndicateLookahead(frame, 20, false), NDIS_STATUS_SUCCESS);
    auto lookaheads = stack->Lookaheads();
    ASSERT_EQ(lookaheads.size(), 1u);
    EXPECT_EQ(lookaheads[0].Medium, NdisMedium802_3);
    EXPECT_EQ(lookaheads[0].Header, ndis::sim::Frame(frame.begin(), frame.begin() + 14));
    EXPECT_EQ(lookaheads[0].Lookahead, ndis::sim::Frame(frame.begin() + 14, frame.begin() + 34));
    EXPECT_EQ(lookaheads[0].PacketSize, frame.size() - 14);
    EXPECT_EQ(Counters(binding).ReceivedCount, 1u);
    EXPECT_EQ(Counters(binding).ReceivedBlockedCount, 0u);

    adapter->IndicateReceiveComplete();
    adapter->IndicateReceiveComplete();
    EXPECT_EQ(stack->ReceiveCompletes(), std::vector<NDIS_MEDIUM>{NdisMedium802_3});
}

TEST_F(PacketPathTest, RestOfALookaheadFrameIsTransferred) {
    const auto frame = Incoming(kOtherAddress);
    stack->TransferRest = true;
    adapter->IndicateLookahead(frame, 10, false);
    EXPECT_EQ(stack->Transferred(), std::vector<ndis::sim::Frame>{frame});

    adapter->Transfers = ndis::sim::Completion::Deferred;
    adapter->IndicateLookahead(frame, 10, false);
    EXPECT_EQ(stack->Transferred().size(), 1u);
    EXPECT_EQ(adapter->CompletePendingTransfers(), 1u);
    EXPECT_EQ(stack->Transferred().size(), 2u);
    EXPECT_EQ(stack->Transferred()[1], frame);
}

TEST_F(PacketPathTest, NoTransferWhileTheLowerAdapterSleeps) {
    PNDIS_PACKET packet = nullptr;
    NDIS_STATUS status;
    NdisAllocatePacket(&status, &packet, binding->SendPacketPool);
    ASSERT_EQ(status, NDIS_STATUS_SUCCESS);
    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    UINT transferred = 99;
    EXPECT_EQ(MiniportTransferData(packet, &transferred, binding, nullptr, 0, 10),
              NDIS_STATUS_FAILURE);
    NdisFreePacket(packet);
    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
}

TEST_F(PacketPathTest, LookaheadUsesTheMediumsOwnIndication) {
    StartOn(NdisMedium802_5);
    ndis::sim::Stack* tokenRing = stack;
    StartOn(NdisMediumFddi);
    ndis::sim::Stack* fddi = stack;

    adapters[1]->IndicateLookahead(Incoming(kOtherAddress), 20, false);
    adapters[1]->IndicateReceiveComplete();
    ASSERT_EQ(tokenRing->Lookaheads().size(), 1u);
    EXPECT_EQ(tokenRing->Lookaheads()[0].Medium, NdisMedium802_5);
    EXPECT_EQ(tokenRing->ReceiveCompletes(), std::vector<NDIS_MEDIUM>{NdisMedium802_5});

    auto longAddresses = Incoming(kOtherAddress);
    longAddresses[0] = 0x50;  // frame control with the long-address bit
    auto shortAddresses = longAddresses;
    shortAddresses[0] = 0x10;
    adapters[2]->IndicateLookahead(longAddresses, 20, false);
    adapters[2]->IndicateLookahead(shortAddresses, 20, false);
    adapters[2]->IndicateReceiveComplete();
    auto seen = fddi->Lookaheads();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Medium, NdisMediumFddi);
    EXPECT_EQ(seen[0].Header.size(), 13u);
    EXPECT_EQ(seen[0].FddiAddressLength, 6u);
    EXPECT_EQ(seen[1].FddiAddressLength, 2u);
    EXPECT_EQ(fddi->ReceiveCompletes(), std::vector<NDIS_MEDIUM>{NdisMediumFddi});
}

TEST_F(PacketPathTest, WanBindingLooksLikeEthernetAndIsFilteredSo) {
    StartOn(NdisMediumWan);
    EXPECT_EQ(binding->Medium, NdisMediumWan);
    EXPECT_EQ(stack->Medium(), NdisMedium802_3);

    stack->Send(Outgoing(kListedAddress));
    stack->Send(Outgoing(kOtherAddress));
    EXPECT_EQ(adapters[1]->SentCount(), 1u);
    adapters[1]->IndicatePacket(Incoming(kListedAddress));
    adapters[1]->IndicateLookahead(Incoming(kOtherAddress), 20, false);
    EXPECT_TRUE(stack->Received().empty());
    ASSERT_EQ(stack->Lookaheads().size(), 1u);
    EXPECT_EQ(stack->Lookaheads()[0].Medium, NdisMedium802_3);
    EXPECT_EQ(Counters(binding).SentBlockedCount, 1u);
    EXPECT_EQ(Counters(binding).ReceivedBlockedCount, 1u);
}

TEST_F(PacketPathTest, UnbindWaitsForSendsStillOnTheWire) {
    adapter->Sends = ndis::sim::Completion::Deferred;
    const std::uint64_t id = stack->Send(Outgoing(kOtherAddress));
    std::atomic<bool> unbound{false};
    std::thread unbinder([&] {
        ndis::host::RemoveLowerAdapter(adapter);
        unbound = true;
    });
    while (!stack->WasUnbound()) NdisMSleep(100);
    NdisMSleep(2000);
    EXPECT_FALSE(unbound.load());
    EXPECT_TRUE(adapter->IsOpen());
    adapter->CompletePendingSends();
    unbinder.join();
    EXPECT_FALSE(adapter->IsOpen());
    EXPECT_EQ(stack->SendCompletions()[id], std::vector<NDIS_STATUS>{NDIS_STATUS_SUCCESS});
}

}  // namespace
}  // namespace fv::test
