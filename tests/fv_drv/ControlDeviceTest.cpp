// The control device: driver-wide requests, binding handles to adapters, the OID query, and the
// adapter states that refuse requests.
#include <thread>

#include "tests/fv_drv/ControlHarness.h"

namespace fv::test {
namespace {

using ControlDeviceTest = ControlTest;

TEST_F(ControlDeviceTest, VersionNeedsTheWholeRecord) {
    FILE_OBJECT* h = Open();
    Reply r = Call(h, IOCTL_GET_VERSION, {}, sizeof(DriverVersionInfo));
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 268u);
    DriverVersionInfo v;
    std::memcpy(&v, r.output.data(), sizeof v);
    EXPECT_EQ(v.major, 2u);
    EXPECT_EQ(v.minor, 0u);
    EXPECT_EQ(v.build, 8056u);
    EXPECT_STREQ(v.codeName, "Duskmere");
    EXPECT_STREQ(v.tag, "*Beta*");
    EXPECT_EQ(v.codeName[kVersionTextSize - 1], 0);  // zero-filled, not left as it was
    EXPECT_EQ(v.tag[kVersionTextSize - 1], 0);

    r = Call(h, IOCTL_GET_VERSION, {}, sizeof(DriverVersionInfo) - 1);
    EXPECT_EQ(r.status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(r.information, 0u);
}

TEST_F(ControlDeviceTest, BindingListFitsExactlyOrOverflows) {
    FILE_OBJECT* h = Open();
    Reply r = Call(h, IOCTL_ENUM_BINDINGS, {}, 4096);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    // Most recently bound first: virtual name, lower name, ..., final empty string.
    std::u16string expected;
    for (int i : {1, 0}) {
        expected += sims[i]->UpperBindings() + u'\0' + sims[i]->Name() + u'\0';
    }
    expected += u'\0';
    ASSERT_EQ(r.information, expected.size() * 2);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(r.output.data()), expected.size()),
              expected);

    const ULONG exact = ULONG(r.information);
    EXPECT_EQ(Call(h, IOCTL_ENUM_BINDINGS, {}, exact).status, STATUS_SUCCESS);
    for (ULONG shortBy : {1u, 2u, exact - 2, exact - 1, exact}) {
        r = Call(h, IOCTL_ENUM_BINDINGS, {}, exact - shortBy);
        EXPECT_EQ(r.status, STATUS_BUFFER_OVERFLOW) << shortBy;
        EXPECT_EQ(r.information, 0u);
    }

    for (ndis::sim::Adapter* a : sims) ndis::host::RemoveLowerAdapter(a);
    r = Call(h, IOCTL_ENUM_BINDINGS, {}, 2);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 2u);
    EXPECT_EQ(r.output, std::vector<std::uint8_t>({0, 0}));
}

TEST_F(ControlDeviceTest, AdapterRequestsNeedABoundHandle) {
    FILE_OBJECT* h = Open();
    EXPECT_EQ(Call(h, IOCTL_GET_STATS, {}, kStatsSize).status, STATUS_INVALID_HANDLE);
    EXPECT_EQ(Call(h, IOCTL_QUERY_OID, Word(OID_GEN_MEDIA_IN_USE), 4).status,
              STATUS_INVALID_HANDLE);
    EXPECT_EQ(Call(h, 0x0012C820).status, STATUS_INVALID_HANDLE);
    EXPECT_EQ(Call(h, IOCTL_SET_OID, {1, 2, 3}).status, STATUS_NOT_SUPPORTED);

    EXPECT_EQ(Call(h, IOCTL_OPEN_ADAPTER, Utf16(u"\\Device\\nosuch")).status,
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(Call(h, IOCTL_OPEN_ADAPTER).status, STATUS_OBJECT_NAME_NOT_FOUND);
    // Name matching is exact: no trailing NUL, no case folding.
    EXPECT_EQ(Call(h, IOCTL_OPEN_ADAPTER, Utf16(sims[0]->Name() + u'\0')).status,
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(Call(h, IOCTL_OPEN_ADAPTER, Utf16(u"\\device\\sim0")).status,
              STATUS_OBJECT_NAME_NOT_FOUND);

    ASSERT_EQ(Call(h, IOCTL_OPEN_ADAPTER, Utf16(sims[0]->Name())).status, STATUS_SUCCESS);
    EXPECT_EQ(Call(h, IOCTL_GET_STATS, {}, kStatsSize).status, STATUS_SUCCESS);
    EXPECT_EQ(Call(h, 0x0012C820).status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(Call(h, 0xFFFFFFFF).status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(Call(h, IOCTL_SET_OID).status, STATUS_NOT_SUPPORTED);
}

TEST_F(ControlDeviceTest, OneHandlePerAdapterAndTheStateOutlivesIt) {
    FILE_OBJECT* first = OpenAdapter(0);
    FILE_OBJECT* second = Open();
    ASSERT_EQ(Call(first, IOCTL_SET_RANGES, Upload(kListed)).status, STATUS_SUCCESS);
    ASSERT_EQ(Call(first, IOCTL_START_FILTER).status, STATUS_SUCCESS);
    EXPECT_EQ(Call(second, IOCTL_OPEN_ADAPTER, Utf16(sims[0]->Name())).status, STATUS_DEVICE_BUSY);
    // A bound handle keeps its adapter; it cannot take a second one.
    EXPECT_EQ(Call(first, IOCTL_OPEN_ADAPTER, Utf16(sims[1]->Name())).status, STATUS_DEVICE_BUSY);
    EXPECT_EQ(bindings[1]->OpenedBy.load(), nullptr);

    Close(first);
    EXPECT_EQ(bindings[0]->OpenedBy.load(), nullptr);
    ASSERT_EQ(Call(second, IOCTL_OPEN_ADAPTER, Utf16(sims[0]->Name())).status, STATUS_SUCCESS);
    ndis::sim::Stack& stack = StackOver(*sims[0]);
    stack.Send(Outgoing(Ip(203, 0, 113, 9)));
    Reply stats = Call(second, IOCTL_GET_STATS, {}, kStatsSize);
    EXPECT_EQ(WordAt(stats.output, 4), 1u);  // blocked by the first handle's table
}

TEST_F(ControlDeviceTest, OpenFailsCleanlyWithoutMemory) {
    FILE_OBJECT* h = Open();
    ndis::test::FailAllocations(kDriverPoolTag, 1);
    EXPECT_EQ(Call(h, IOCTL_OPEN_ADAPTER, Utf16(sims[0]->Name())).status,
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(bindings[0]->OpenedBy.load(), nullptr);
    EXPECT_EQ(Call(h, IOCTL_OPEN_ADAPTER, Utf16(sims[0]->Name())).status, STATUS_SUCCESS);
}

TEST_F(ControlDeviceTest, HandleKeepsItsBindingAcrossTheUnbind) {
    FILE_OBJECT* h = OpenAdapter(0);
    ASSERT_EQ(Call(h, IOCTL_SET_RANGES, Upload(kListed)).status, STATUS_SUCCESS);
    ndis::host::RemoveLowerAdapter(sims[0]);
    for (ULONG code : {IOCTL_GET_STATS, IOCTL_START_FILTER, IOCTL_GET_BLOCKED_COUNT}) {
        EXPECT_EQ(Call(h, code, {}, kStatsSize).status, STATUS_INVALID_DEVICE_STATE) << code;
    }
    EXPECT_EQ(Call(h, IOCTL_QUERY_OID, Word(OID_GEN_MEDIA_IN_USE), 4).status,
              STATUS_INVALID_DEVICE_STATE);
    // Gone from the list: a new handle cannot find it.
    EXPECT_EQ(Call(Open(), IOCTL_OPEN_ADAPTER, Utf16(sims[0]->Name())).status,
              STATUS_OBJECT_NAME_NOT_FOUND);
    Close(h);  // the last reference: the binding, its table and rings are freed (leak check)
}

TEST_F(ControlDeviceTest, RequestsWaitForFullPower) {
    FILE_OBJECT* h = OpenAdapter(0);
    ndis::sim::Stack& stack = StackOver(*sims[0]);
    const std::vector<std::uint8_t> oid = Word(OID_GEN_MEDIA_IN_USE);
    ASSERT_EQ(stack.Set(OID_PNP_SET_POWER, PowerState(NdisDeviceStateD3))->Status,
              NDIS_STATUS_SUCCESS);
    EXPECT_EQ(Call(h, IOCTL_RESET_STATS).status, STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(Call(h, IOCTL_QUERY_OID, oid, 4).status, STATUS_INVALID_DEVICE_STATE);
    ASSERT_EQ(stack.Set(OID_PNP_SET_POWER, PowerState(NdisDeviceStateD0))->Status,
              NDIS_STATUS_SUCCESS);
    EXPECT_EQ(Call(h, IOCTL_RESET_STATS).status, STATUS_SUCCESS);

    ASSERT_EQ(sims[0]->SetPower(NdisDeviceStateD3), NDIS_STATUS_SUCCESS);
    EXPECT_EQ(Call(h, IOCTL_START_FILTER).status, STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(Call(h, IOCTL_QUERY_OID, oid, 4).status, STATUS_INVALID_DEVICE_STATE);
    EXPECT_TRUE(sims[0]->RequestedOids().empty());
    ASSERT_EQ(sims[0]->SetPower(NdisDeviceStateD0), NDIS_STATUS_SUCCESS);
    EXPECT_EQ(Call(h, IOCTL_QUERY_OID, oid, 4).status, STATUS_SUCCESS);
}

TEST_F(ControlDeviceTest, OidQueryAnswersFromTheLowerAdapter) {
    FILE_OBJECT* h = OpenAdapter(1);
    Reply r = Call(h, IOCTL_QUERY_OID, Word(OID_802_3_CURRENT_ADDRESS), 16);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 6u);
    EXPECT_EQ(std::vector<std::uint8_t>(r.output.begin(), r.output.begin() + 6),
              std::vector<std::uint8_t>({0x02, 0x00, 0x5e, 0x10, 0x00, 0x01}));

    r = Call(h, IOCTL_QUERY_OID, Word(OID_GEN_VENDOR_DESCRIPTION), 4);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 0u);
    EXPECT_EQ(Call(h, IOCTL_QUERY_OID, Word(0x0DEADBEEF), 64).status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(Call(h, IOCTL_QUERY_OID, {1, 0, 1}, 64).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Call(h, IOCTL_QUERY_OID, {1, 0, 1, 0, 0}, 64).status, STATUS_INVALID_PARAMETER);
}

TEST_F(ControlDeviceTest, PendingOidQueryHoldsOffTheUnbind) {
    FILE_OBJECT* h = OpenAdapter(0);
    sims[0]->Requests = ndis::sim::Completion::Deferred;
    Reply r{};
    std::thread query([&] { r = Call(h, IOCTL_QUERY_OID, Word(OID_GEN_MEDIA_IN_USE), 4); });
    while (sims[0]->PendingRequests() == 0) std::this_thread::yield();
    std::atomic<bool> unbound{false};
    std::thread unbind([&] {
        ndis::host::RemoveLowerAdapter(sims[0]);
        unbound = true;
    });
    NdisMSleep(5000);
    EXPECT_FALSE(unbound.load());  // the lower binding stays open for the answer
    sims[0]->CompletePendingRequests();
    query.join();
    unbind.join();
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 4u);
    EXPECT_EQ(WordAt(r.output), ULONG(NdisMedium802_3));
}

}  // namespace
}  // namespace fv::test
