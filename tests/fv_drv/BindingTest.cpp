// Driver entry, binding, the virtual adapter's initialization and halt, the control device's
// registration and the reference counting of bindings.
#include <atomic>
#include <thread>

#include "tests/fv_drv/DriverHarness.h"
#include "fv_drv/Driver/ControlDevice.h"

namespace fv::test {
namespace {

using BindingTest = DriverTest;

TEST_F(BindingTest, BindsEveryAdapterAndListsTheNewestFirst) {
    ndis::sim::Adapter& a0 = AddAdapter(SimConfig(0));
    ndis::sim::Adapter& a1 = AddAdapter(SimConfig(1, NdisMedium802_5));
    EXPECT_TRUE(a0.IsOpen());
    EXPECT_TRUE(a1.IsOpen());
    EXPECT_EQ(ndis::host::VirtualAdapters().size(), 2u);

    AdapterBinding* b0 = BindingOf(a0);
    AdapterBinding* b1 = BindingOf(a1);
    ASSERT_NE(b0, nullptr);
    ASSERT_NE(b1, nullptr);
    EXPECT_EQ(g_driver.Bindings, b1);
    EXPECT_EQ(b1->Next, b0);
    EXPECT_EQ(std::u16string(b1->VirtualName.Buffer, b1->VirtualName.Length / 2), u"\\Device\\fv-sim1");
    EXPECT_EQ(b1->Medium, NdisMedium802_5);
    EXPECT_EQ(StackOver(a1).Medium(), NdisMedium802_5);
    // A fresh binding passes everything.
    EXPECT_EQ(b0->Filter.Ranges, nullptr);
    EXPECT_EQ(b0->Filter.FilteringEnabled, 0);
}

TEST_F(BindingTest, ControlDeviceLivesWhileAnyVirtualAdapterDoes) {
    EXPECT_EQ(deviceHost.added, 0);
    ndis::sim::Adapter& a0 = AddAdapter(SimConfig(0));
    ASSERT_EQ(deviceHost.added, 1);
    ASSERT_NE(deviceHost.live, nullptr);
    EXPECT_EQ(deviceHost.live->Name, u"\\Device\\Ferrovane");
    EXPECT_EQ(deviceHost.live->SymbolicName, u"\\DosDevices\\Ferrovane");
    EXPECT_NE(deviceHost.live->MajorFunction[IRP_MJ_DEVICE_CONTROL], nullptr);

    ndis::sim::Adapter& a1 = AddAdapter(SimConfig(1));
    EXPECT_EQ(deviceHost.added, 1);
    EXPECT_EQ(g_driver.MiniportCount, 2u);
    ndis::host::RemoveLowerAdapter(&a0);
    EXPECT_EQ(deviceHost.removed, 0);
    ndis::host::RemoveLowerAdapter(&a1);
    EXPECT_EQ(deviceHost.removed, 1);
    EXPECT_EQ(deviceHost.live, nullptr);
    EXPECT_EQ(g_driver.DeviceState, ControlDeviceState::Ready);

    AddAdapter(SimConfig(2));
    EXPECT_EQ(deviceHost.added, 2);
}

TEST_F(BindingTest, DeviceRegistrationWaitsForARemovalInProgress) {
    NdisAcquireSpinLock(&g_driver.GlobalLock);
    g_driver.DeviceState = ControlDeviceState::Deregistering;
    NdisReleaseSpinLock(&g_driver.GlobalLock);
    std::thread releaser([] {
        NdisMSleep(2000);
        NdisAcquireSpinLock(&g_driver.GlobalLock);
        g_driver.DeviceState = ControlDeviceState::Ready;
        NdisReleaseSpinLock(&g_driver.GlobalLock);
    });
    AddAdapter(SimConfig(0));  // registers only once the state is ready again
    releaser.join();
    EXPECT_EQ(deviceHost.added, 1);
    EXPECT_NE(g_driver.ControlDeviceHandle, nullptr);
}

// A host that takes its time to bring the device up, so that a second adapter initializes while
// the first is still registering.
class SlowDeviceHost final : public ndis::host::DeviceHost {
public:
    NDIS_STATUS DeviceAdded(PDEVICE_OBJECT) override {
        if (live.fetch_add(1) != 0) ++overlapping;
        ++added;
        NdisMSleep(20000);
        return NDIS_STATUS_SUCCESS;
    }
    void DeviceRemoved(PDEVICE_OBJECT) override { --live; }
    std::atomic<int> added{0};
    std::atomic<int> live{0};
    std::atomic<int> overlapping{0};
};

TEST_F(BindingTest, AdaptersInitializingTogetherRegisterTheDeviceOnce) {
    SlowDeviceHost slow;
    ndis::host::SetDeviceHost(&slow);
    std::vector<std::unique_ptr<ndis::sim::Adapter>> together;
    for (int i = 0; i < 3; ++i) together.push_back(std::make_unique<ndis::sim::Adapter>(SimConfig(i)));
    {
        std::vector<std::thread> threads;
        for (auto& a : together) {
            threads.emplace_back([&a] { ndis::host::AddLowerAdapter(a.get()); });
        }
        for (auto& t : threads) t.join();
    }
    EXPECT_EQ(slow.added.load(), 1);
    EXPECT_EQ(slow.overlapping.load(), 0);
    EXPECT_EQ(g_driver.MiniportCount, 3u);
    for (auto& a : together) ndis::host::RemoveLowerAdapter(a.get());
    EXPECT_EQ(slow.live.load(), 0);
    EXPECT_EQ(g_driver.ControlDeviceHandle, nullptr);
    ndis::host::SetDeviceHost(&deviceHost);
}

TEST_F(BindingTest, RefusedDeviceLeavesTheAdaptersWorking) {
    deviceHost.addStatus = NDIS_STATUS_FAILURE;
    ndis::sim::Adapter& a = AddAdapter(SimConfig(0));
    EXPECT_EQ(g_driver.ControlDeviceHandle, nullptr);
    ndis::sim::Stack& stack = StackOver(a);
    stack.Send(Outgoing(Ip(8, 8, 8, 8)));
    EXPECT_EQ(a.SentCount(), 1u);
}

TEST_F(BindingTest, ControlDeviceCreateClearsTheContextsAndUnboundHandlesAreRefused) {
    AddAdapter(SimConfig(0));
    FILE_OBJECT file;
    file.FsContext = file.FsContext2 = &file;
    IRP irp;
    irp.Stack.FileObject = &file;
    irp.Stack.MajorFunction = IRP_MJ_CREATE;
    EXPECT_EQ(ControlDeviceDispatch(deviceHost.live, &irp), STATUS_SUCCESS);
    EXPECT_EQ(file.FsContext, nullptr);
    EXPECT_EQ(file.FsContext2, nullptr);
    irp.Stack.MajorFunction = IRP_MJ_DEVICE_CONTROL;
    EXPECT_NE(ControlDeviceDispatch(deviceHost.live, &irp), STATUS_SUCCESS);
}

TEST_F(BindingTest, AdapterWithoutUpperBindingsIsLeftClosed) {
    ndis::sim::AdapterConfig c = SimConfig(0);
    c.UpperBindings.clear();
    ndis::sim::Adapter& a = AddAdapter(c);
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(BindingOf(a), nullptr);
    EXPECT_TRUE(ndis::host::VirtualAdapters().empty());
}

TEST_F(BindingTest, FailedOpenLeavesNoBinding) {
    ndis::sim::AdapterConfig c = SimConfig(0);
    auto adapter = std::make_unique<ndis::sim::Adapter>(c);
    adapter->OpenStatus = NDIS_STATUS_ADAPTER_NOT_READY;
    adapter->Opens = ndis::sim::Completion::Deferred;
    adapters.push_back(std::move(adapter));
    ndis::host::AddLowerAdapter(adapters.back().get());
    EXPECT_EQ(BindingOf(*adapters.back()), nullptr);
    EXPECT_FALSE(adapters.back()->IsOpen());
}

TEST_F(BindingTest, PendingOpenAndCloseAreWaitedFor) {
    ndis::sim::AdapterConfig c = SimConfig(0);
    auto adapter = std::make_unique<ndis::sim::Adapter>(c);
    adapter->Opens = ndis::sim::Completion::Deferred;
    adapter->Closes = ndis::sim::Completion::Deferred;
    adapters.push_back(std::move(adapter));
    ndis::sim::Adapter& a = *adapters.back();
    ndis::host::AddLowerAdapter(&a);
    ASSERT_NE(BindingOf(a), nullptr);
    EXPECT_TRUE(a.IsOpen());
    ndis::host::RemoveLowerAdapter(&a);
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(BindingOf(a), nullptr);
}

TEST_F(BindingTest, MemoryShortageFailsTheBindAndReconfigureRetries) {
    ndis::test::FailAllocations(kDriverPoolTag, 1);
    ndis::sim::Adapter& a = AddAdapter(SimConfig(0));
    EXPECT_EQ(BindingOf(a), nullptr);
    EXPECT_FALSE(a.IsOpen());

    ndis::host::ReconfigureProtocols();
    EXPECT_NE(BindingOf(a), nullptr);
    EXPECT_TRUE(a.IsOpen());
}

TEST_F(BindingTest, LookupNeedsTheExactLowerNameAndHoldsTheRecord) {
    ndis::sim::Adapter& a = AddAdapter(SimConfig(0));
    const std::u16string name = a.Name();
    const ULONG bytes = ULONG(name.size() * sizeof(char16_t));
    EXPECT_EQ(ReferenceBindingByLowerName(name.data(), bytes - 2), nullptr);
    EXPECT_EQ(ReferenceBindingByLowerName(name.data(), 0), nullptr);
    const std::u16string upper = u"\\DEVICE\\SIM0";
    EXPECT_EQ(ReferenceBindingByLowerName(upper.data(), bytes), nullptr);

    AdapterBinding* held = ReferenceBindingByLowerName(name.data(), bytes);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->References.load(), 2);
    Block(held, kListed);
    ndis::host::RemoveLowerAdapter(&a);
    // Unbound and halted, but the record, its table and name stay for the holder.
    EXPECT_EQ(g_driver.Bindings, nullptr);
    EXPECT_EQ(held->References.load(), 1);
    EXPECT_NE(held->Filter.Ranges, nullptr);
    EXPECT_EQ(std::u16string(held->LowerName.Buffer, held->LowerName.Length / 2), name);
    DereferenceBinding(held);
}

TEST_F(BindingTest, UnloadUnbindsEverythingAndDeregistersInOrder) {
    AddAdapter(SimConfig(0));
    AddAdapter(SimConfig(1));
    ndis::host::UnloadDriver();
    EXPECT_EQ(g_driver.Bindings, nullptr);
    EXPECT_EQ(g_driver.ProtocolHandle, nullptr);
    EXPECT_EQ(g_driver.DriverHandle, nullptr);
    EXPECT_EQ(deviceHost.removed, 1);
    EXPECT_EQ(ndis::test::OutstandingAllocations(kDriverPoolTag), bindingsBefore);
    for (const auto& a : adapters) EXPECT_FALSE(a->IsOpen());
    // Loading again works from a clean slate; the event table is ready to be filled.
    ASSERT_EQ(ndis::host::LoadDriver(DriverEntry), STATUS_SUCCESS);
    for (const NamedEventEntry& e : g_driver.Events) EXPECT_EQ(e.MayCreate, TRUE);
    EXPECT_EQ(std::u16string(g_driver.Events[kExitEventSlot].Name.Buffer,
                             g_driver.Events[kExitEventSlot].Name.Length / 2),
              u"\\BaseNamedObjects\\FerrovaneExitEvent");
    EXPECT_NE(BindingOf(*adapters[0]), nullptr);  // adapters present are bound on load
}

}  // namespace
}  // namespace fv::test
