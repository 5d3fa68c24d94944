// Requests through the virtual adapter, power changes on both sides, status pass-through.
#include <atomic>
#include <thread>

#include "tests/fv_drv/DriverHarness.h"
#include "fv_drv/Driver/Handlers.h"

namespace fv::test {
namespace {

class RequestPowerTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        ndis::sim::AdapterConfig c = SimConfig(0);
        c.VendorDescription = "Acme 10/100";
        adapter = &AddAdapter(c);
        binding = BindingOf(*adapter);
        ASSERT_NE(binding, nullptr);
        stack = &StackOver(*adapter);
    }
    NDIS_STATUS SetVirtualPower(NDIS_DEVICE_POWER_STATE s) {
        return stack->Set(OID_PNP_SET_POWER, PowerState(s))->Status;
    }
    ndis::sim::Adapter* adapter = nullptr;
    AdapterBinding* binding = nullptr;
    ndis::sim::Stack* stack = nullptr;
};

TEST_F(RequestPowerTest, QueriesAreAnsweredByTheLowerAdapter) {
    auto vendor = stack->Query(OID_GEN_VENDOR_DESCRIPTION, 64);
    ASSERT_TRUE(vendor->Done);
    ASSERT_EQ(vendor->Status, NDIS_STATUS_SUCCESS);
    EXPECT_EQ(vendor->Bytes(), 12u);
    EXPECT_STREQ(reinterpret_cast<const char*>(vendor->Buffer.data()), "Acme 10/100");

    auto address = stack->Query(OID_802_3_CURRENT_ADDRESS, 6);
    ASSERT_EQ(address->Status, NDIS_STATUS_SUCCESS);
    EXPECT_EQ(address->Buffer, std::vector<std::uint8_t>({0x02, 0x00, 0x5e, 0x10, 0x00, 0x00}));

    auto tooSmall = stack->Query(OID_GEN_VENDOR_DESCRIPTION, 4);
    EXPECT_EQ(tooSmall->Status, NDIS_STATUS_BUFFER_TOO_SHORT);
    EXPECT_EQ(tooSmall->Needed(), 12u);

    auto set = stack->Set(OID_802_3_CURRENT_ADDRESS, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(set->Status, NDIS_STATUS_SUCCESS);
    EXPECT_EQ(set->Request.DATA.SET_INFORMATION.BytesRead, 6u);
}

TEST_F(RequestPowerTest, PendingRequestCompletesUpAndTheNextWaitsItsTurn) {
    adapter->Requests = ndis::sim::Completion::Deferred;
    auto first = stack->Query(OID_GEN_MEDIA_IN_USE, 4);
    auto second = stack->Query(OID_GEN_MAC_OPTIONS, 4);
    EXPECT_FALSE(first->Done);
    EXPECT_EQ(adapter->PendingRequests(), 1u);  // one request block per binding
    EXPECT_EQ(adapter->CompletePendingRequests(), 1u);
    ASSERT_TRUE(first->Done);
    EXPECT_EQ(first->Status, NDIS_STATUS_SUCCESS);
    EXPECT_FALSE(second->Done);
    EXPECT_EQ(adapter->CompletePendingRequests(), 1u);
    EXPECT_TRUE(second->Done);
}

TEST_F(RequestPowerTest, NextRequestPendingBelowKeepsTheLowerAdapterAwake) {
    adapter->Requests = ndis::sim::Completion::Deferred;
    auto first = stack->Query(OID_GEN_MEDIA_IN_USE, 4);
    auto second = stack->Query(OID_GEN_MAC_OPTIONS, 4);
    // Completing the first starts the second from inside the completion; it pends below.
    ASSERT_EQ(adapter->CompletePendingRequests(), 1u);
    ASSERT_EQ(adapter->PendingRequests(), 1u);
    EXPECT_TRUE(binding->RequestOutstanding);
    std::atomic<bool> asleep{false};
    std::thread power([&] {
        adapter->SetPower(NdisDeviceStateD3);
        asleep = true;
    });
    NdisMSleep(2000);
    EXPECT_FALSE(asleep.load());
    adapter->CompletePendingRequests();
    power.join();
    EXPECT_TRUE(second->Done);
    EXPECT_FALSE(binding->RequestOutstanding);
    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
}

TEST_F(RequestPowerTest, MacOptionsLoseNoLoopback) {
    auto options = stack->Query(OID_GEN_MAC_OPTIONS, 4);
    ASSERT_EQ(options->Status, NDIS_STATUS_SUCCESS);
    ULONG value;
    std::memcpy(&value, options->Buffer.data(), sizeof value);
    EXPECT_EQ(value & NDIS_MAC_OPTION_NO_LOOPBACK, 0u);
    EXPECT_EQ(value, NDIS_MAC_OPTION_COPY_LOOKAHEAD_DATA | NDIS_MAC_OPTION_TRANSFERS_NOT_PEND);
}

TEST_F(RequestPowerTest, PnpCapabilitiesDescribeTheVirtualAdapter) {
    auto caps = stack->Query(OID_PNP_CAPABILITIES, 20);
    ASSERT_EQ(caps->Status, NDIS_STATUS_SUCCESS);
    EXPECT_EQ(caps->Bytes(), 16u);
    NDIS_PNP_CAPABILITIES value;
    std::memcpy(&value, caps->Buffer.data(), sizeof value);
    EXPECT_EQ(value.WakeUpCapabilities.MinMagicPacketWakeUp, NdisDeviceStateUnspecified);
    EXPECT_EQ(value.WakeUpCapabilities.MinPatternWakeUp, NdisDeviceStateUnspecified);
    EXPECT_EQ(value.WakeUpCapabilities.MinLinkChangeWakeUp, NdisDeviceStateUnspecified);
}

TEST_F(RequestPowerTest, PowerQueriesAreAnsweredLocally) {
    EXPECT_EQ(stack->Query(OID_PNP_QUERY_POWER, 4)->Status, NDIS_STATUS_SUCCESS);
    EXPECT_EQ(stack->Query(OID_GEN_SUPPORTED_GUIDS, 64)->Status, NDIS_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(SetVirtualPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
    EXPECT_TRUE(adapter->RequestedOids().empty());
}

TEST_F(RequestPowerTest, VirtualAdapterPowerChanges) {
    auto shortSet = stack->Set(OID_PNP_SET_POWER, {1, 0});
    EXPECT_EQ(shortSet->Status, NDIS_STATUS_INVALID_LENGTH);
    EXPECT_EQ(stack->Set(OID_PNP_SET_POWER, PowerState(NDIS_DEVICE_POWER_STATE(9)))->Status,
              NDIS_STATUS_INVALID_DATA);

    ASSERT_EQ(SetVirtualPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    EXPECT_TRUE(binding->StandingBy);
    EXPECT_EQ(SetVirtualPower(NdisDeviceStateD2), NDIS_STATUS_FAILURE);
    EXPECT_EQ(stack->Query(OID_GEN_MEDIA_IN_USE, 4)->Status, NDIS_STATUS_FAILURE);
    EXPECT_TRUE(adapter->RequestedOids().empty());

    ASSERT_EQ(SetVirtualPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
    EXPECT_FALSE(binding->StandingBy);
    EXPECT_EQ(stack->Query(OID_GEN_MEDIA_IN_USE, 4)->Status, NDIS_STATUS_SUCCESS);
}

TEST_F(RequestPowerTest, RequestWhileTheLowerAdapterSleepsIsSentWhenItWakes) {
    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    EXPECT_EQ(stack->Query(OID_GEN_MEDIA_IN_USE, 4)->Status, NDIS_STATUS_FAILURE);  // standing by
    // The virtual adapter sleeps and wakes while the lower one still sleeps.
    ASSERT_EQ(SetVirtualPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    ASSERT_EQ(SetVirtualPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);

    auto queued = stack->Query(OID_GEN_VENDOR_DESCRIPTION, 64);
    EXPECT_FALSE(queued->Done);
    EXPECT_TRUE(adapter->RequestedOids().empty());
    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
    ASSERT_TRUE(queued->Done);
    EXPECT_EQ(queued->Status, NDIS_STATUS_SUCCESS);
    EXPECT_EQ(adapter->RequestedOids(), std::vector<NDIS_OID>{OID_GEN_VENDOR_DESCRIPTION});
}

TEST_F(RequestPowerTest, QueuedRequestFailsWhenTheAdapterUnbinds) {
    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    ASSERT_EQ(SetVirtualPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    ASSERT_EQ(SetVirtualPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
    auto queued = stack->Query(OID_GEN_VENDOR_DESCRIPTION, 64);
    ndis::host::RemoveLowerAdapter(adapter);
    ASSERT_TRUE(queued->Done);
    EXPECT_EQ(queued->Status, NDIS_STATUS_FAILURE);
    EXPECT_TRUE(adapter->RequestedOids().empty());
}

TEST_F(RequestPowerTest, LowerAdapterSleepsOnlyOnceNothingIsInFlight) {
    adapter->Sends = ndis::sim::Completion::Deferred;
    adapter->Requests = ndis::sim::Completion::Deferred;
    stack->Send(Outgoing(Ip(8, 8, 8, 8)));
    auto request = stack->Query(OID_GEN_MEDIA_IN_USE, 4);
    std::atomic<bool> asleep{false};
    std::thread power([&] {
        adapter->SetPower(NdisDeviceStateD3);
        asleep = true;
    });
    NdisMSleep(2000);
    EXPECT_FALSE(asleep.load());
    adapter->CompletePendingSends();
    NdisMSleep(2000);
    EXPECT_FALSE(asleep.load());
    adapter->CompletePendingRequests();
    power.join();
    EXPECT_TRUE(request->Done);
    EXPECT_EQ(binding->LowerPowerState.load(), NdisDeviceStateD3);
    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
}

TEST_F(RequestPowerTest, RequestsOfTheControlDeviceCompleteThroughTheirOwnRoutine) {
    struct Probe {
        ControlRequest request;
        std::atomic<int> calls{0};
        NDIS_STATUS status = 0;
    } probe;
    probe.request.Complete = [](ControlRequest* r, NDIS_STATUS status) {
        Probe* p = reinterpret_cast<Probe*>(r);
        p->status = status;
        ++p->calls;
    };
    std::uint8_t buffer[64] = {};
    probe.request.Request.RequestType = NdisRequestQueryInformation;
    probe.request.Request.DATA.QUERY_INFORMATION = {OID_GEN_VENDOR_DESCRIPTION, buffer,
                                                    sizeof buffer, 0, 0};
    adapter->Requests = ndis::sim::Completion::Deferred;
    NDIS_STATUS status;
    NdisRequest(&status, binding->BindingHandle, &probe.request.Request);
    ASSERT_EQ(status, NDIS_STATUS_PENDING);
    adapter->CompletePendingRequests();
    EXPECT_EQ(probe.calls.load(), 1);
    EXPECT_EQ(probe.status, NDIS_STATUS_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer), "Acme 10/100");
    EXPECT_FALSE(binding->RequestOutstanding);
}

TEST_F(RequestPowerTest, StatusGoesUpOnlyAtFullPower) {
    adapter->IndicateStatus(NDIS_STATUS_MEDIA_DISCONNECT);
    adapter->IndicateStatusComplete();
    EXPECT_EQ(stack->Statuses(), std::vector<NDIS_STATUS>{NDIS_STATUS_MEDIA_DISCONNECT});
    EXPECT_EQ(stack->StatusCompletes(), 1u);

    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    adapter->IndicateStatus(NDIS_STATUS_MEDIA_CONNECT);
    adapter->IndicateStatusComplete();
    EXPECT_EQ(stack->Statuses().size(), 1u);
    EXPECT_EQ(stack->StatusCompletes(), 1u);
    ASSERT_EQ(adapter->SetPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
}

TEST_F(RequestPowerTest, MediaChangeMissedWhileAsleepIsIndicatedOnWaking) {
    ASSERT_EQ(SetVirtualPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    adapter->IndicateStatus(NDIS_STATUS_MEDIA_DISCONNECT);
    EXPECT_TRUE(stack->Statuses().empty());
    ASSERT_EQ(SetVirtualPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
    EXPECT_EQ(stack->Statuses(), std::vector<NDIS_STATUS>{NDIS_STATUS_MEDIA_DISCONNECT});
    EXPECT_EQ(stack->StatusCompletes(), 1u);

    // What went up at full power is not repeated by a later wake-up.
    adapter->IndicateStatus(NDIS_STATUS_MEDIA_CONNECT);
    ASSERT_EQ(SetVirtualPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    ASSERT_EQ(SetVirtualPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
    EXPECT_EQ(stack->Statuses(), (std::vector<NDIS_STATUS>{NDIS_STATUS_MEDIA_DISCONNECT,
                                                          NDIS_STATUS_MEDIA_CONNECT}));
}

TEST_F(RequestPowerTest, MalformedPowerEventIsRefused) {
    NET_PNP_EVENT event;
    event.NetEvent = NetEventSetPower;
    EXPECT_EQ(ProtocolPnPEvent(binding, &event), NDIS_STATUS_INVALID_LENGTH);
    EXPECT_EQ(binding->LowerPowerState.load(), NdisDeviceStateD0);
}

}  // namespace
}  // namespace fv::test
