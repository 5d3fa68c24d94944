// Loads the driver over simulated adapters and gives tests a stack above each virtual adapter.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/fv_drv/FrameBuilder.h"
#include "fv_drv/Driver/AdapterBinding.h"
#include "fv_drv/Driver/DriverEntry.h"
#include "fv_drv/Driver/DriverGlobals.h"
#include "fv_drv/ndis/ndis_media.h"
#include "fv_drv/ndis/sim/SimStack.h"

namespace fv::test {

// Records the control device's registrations.
class RecordingDeviceHost final : public ndis::host::DeviceHost {
public:
    NDIS_STATUS DeviceAdded(PDEVICE_OBJECT device) override {
        ++added;
        live = device;
        return addStatus;
    }
    void DeviceRemoved(PDEVICE_OBJECT device) override {
        ++removed;
        if (live == device) live = nullptr;
    }
    int added = 0;
    int removed = 0;
    PDEVICE_OBJECT live = nullptr;
    NDIS_STATUS addStatus = NDIS_STATUS_SUCCESS;
};

inline ndis::sim::AdapterConfig SimConfig(int n, NDIS_MEDIUM medium = NdisMedium802_3) {
    ndis::sim::AdapterConfig c;
    c.Name = u"\\Device\\sim" + std::u16string(1, char16_t(u'0' + n));
    c.UpperBindings = u"\\Device\\fv-sim" + std::u16string(1, char16_t(u'0' + n));
    c.Medium = medium;
    c.Address[5] = std::uint8_t(n);
    return c;
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        bindingsBefore = ndis::test::OutstandingAllocations(kDriverPoolTag);
        ndis::host::SetDeviceHost(&deviceHost);
        ASSERT_EQ(ndis::host::LoadDriver(DriverEntry), STATUS_SUCCESS);
    }

    void TearDown() override {
        for (auto& s : stacks) s->Close();
        for (auto& a : adapters) ndis::host::RemoveLowerAdapter(a.get());
        ndis::host::UnloadDriver();
        ndis::host::SetDeviceHost(nullptr);
        ndis::test::FailAllocations(kDriverPoolTag, 0);
        EXPECT_EQ(ndis::test::OutstandingAllocations(kDriverPoolTag), bindingsBefore);
        EXPECT_EQ(ndis::test::OutstandingAllocations(kEventRingPoolTag), 0);
    }

    // Adds a lower adapter; the driver binds to it at once.
    ndis::sim::Adapter& AddAdapter(ndis::sim::AdapterConfig config) {
        adapters.push_back(std::make_unique<ndis::sim::Adapter>(std::move(config)));
        ndis::host::AddLowerAdapter(adapters.back().get());
        return *adapters.back();
    }

    // A stack bound to the virtual adapter above `adapter`.
    ndis::sim::Stack& StackOver(const ndis::sim::Adapter& adapter) {
        stacks.push_back(std::make_unique<ndis::sim::Stack>());
        EXPECT_TRUE(stacks.back()->Bind(adapter.UpperBindings()));
        return *stacks.back();
    }

    // The binding over `adapter` (valid while it stays bound), or none.
    static AdapterBinding* BindingOf(const ndis::sim::Adapter& adapter) {
        const std::u16string name = adapter.Name();
        AdapterBinding* b =
            ReferenceBindingByLowerName(name.data(), ULONG(name.size() * sizeof(char16_t)));
        if (b != nullptr) DereferenceBinding(b);
        return b;
    }

    // Installs a range table and switches filtering on, as the control device would.
    static void Block(AdapterBinding* b, const std::vector<RangeEntry>& ranges) {
        const std::uint32_t count = std::uint32_t(ranges.size());
        PVOID image = nullptr;
        ASSERT_EQ(NdisAllocateMemoryWithTag(&image, UINT(RangeTableImageSize(count)), kDriverPoolTag),
                  NDIS_STATUS_SUCCESS);
        std::memcpy(image, &count, sizeof count);
        if (count != 0) {
            std::memcpy(static_cast<std::uint8_t*>(image) + sizeof count, ranges.data(),
                        count * sizeof(RangeEntry));
        }
        NdisAcquireSpinLock(&b->Lock);
        RangeTable* old = b->Filter.Ranges;
        b->Filter.Ranges = static_cast<RangeTable*>(image);
        b->Filter.FilteringEnabled = 1;
        NdisReleaseSpinLock(&b->Lock);
        if (old != nullptr) NdisFreeMemory(old, UINT(RangeTableImageSize(old->count)), 0);
    }

    struct CounterSnapshot {
        std::uint32_t SentCount, SentBlockedCount, ReceivedCount, ReceivedBlockedCount;
    };
    static CounterSnapshot Counters(AdapterBinding* b) {
        NdisAcquireSpinLock(&b->Lock);
        const CounterSnapshot c{b->Filter.SentCount, b->Filter.SentBlockedCount,
                                b->Filter.ReceivedCount, b->Filter.ReceivedBlockedCount};
        NdisReleaseSpinLock(&b->Lock);
        return c;
    }

    // A frame the stack sends to `destination`, or the adapter receives from `source`.
    static std::vector<std::uint8_t> Outgoing(std::uint32_t destination) {
        FrameSpec s;
        s.destination = destination;
        return BuildFrame(s);
    }
    static std::vector<std::uint8_t> Incoming(std::uint32_t source) {
        FrameSpec s;
        s.source = source;
        s.destination = Ip(192, 168, 1, 2);
        return BuildFrame(s);
    }

    static std::vector<std::uint8_t> PowerState(NDIS_DEVICE_POWER_STATE s) {
        std::vector<std::uint8_t> bytes(sizeof s);
        std::memcpy(bytes.data(), &s, sizeof s);
        return bytes;
    }

    RecordingDeviceHost deviceHost;
    std::vector<std::unique_ptr<ndis::sim::Adapter>> adapters;
    std::vector<std::unique_ptr<ndis::sim::Stack>> stacks;
    long bindingsBefore = 0;
};

// The listed range used by most tests: 203.0.113.0/24.
inline const std::vector<RangeEntry> kListed = {{Ip(203, 0, 113, 0), 255}};

}  // namespace fv::test
