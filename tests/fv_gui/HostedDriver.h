// The real driver hosted in the test process over simulated adapters, serving its control
// device on a socket in the test's device folder, as ferrovane-sys does.
#pragma once

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "fv_drv/Driver/DriverEntry.h"
#include "fv_drv/host/DeviceBridge.h"
#include "fv_drv/host/Ipv4Frame.h"
#include "fv_drv/ndis/sim/SimAdapter.h"
#include "fv_drv/ndis/sim/SimStack.h"
#include "fv_contract/DeviceNames.h"

namespace fv::test {

class HostedDriver {
public:
    explicit HostedDriver(const std::string& deviceDir)
        : bridge_(deviceDir + "/" + kControlDeviceName, fv::host::PeerPolicy{::geteuid(), gid_t(-1)}) {
        ndis::host::SetDeviceHost(&bridge_);
        loaded_ = ndis::host::LoadDriver(DriverEntry) == STATUS_SUCCESS;
    }
    ~HostedDriver() {
        for (auto& s : stacks_) s->Close();
        for (auto& a : adapters_) ndis::host::RemoveLowerAdapter(a.get());
        ndis::host::UnloadDriver();
        ndis::host::SetDeviceHost(nullptr);
    }
    bool Loaded() const { return loaded_; }

    // A lower adapter named `name` (its virtual adapter "fv-<name>") with a stack above it.
    ndis::sim::Adapter& Add(const std::string& name, NDIS_MEDIUM medium = NdisMedium802_3,
                      std::array<std::uint8_t, 6> address = {0x02, 0, 0, 0, 0, 1}) {
        ndis::sim::AdapterConfig config;
        config.Name = std::u16string(name.begin(), name.end());
        const std::string upper = "fv-" + name;
        config.UpperBindings = std::u16string(upper.begin(), upper.end());
        config.Medium = medium;
        config.Address = address;
        config.VendorDescription = "Simulated " + name;
        adapters_.push_back(std::make_unique<ndis::sim::Adapter>(config));
        ndis::host::AddLowerAdapter(adapters_.back().get());
        stacks_.push_back(std::make_unique<ndis::sim::Stack>());
        stacks_.back()->Bind(config.UpperBindings);
        return *adapters_.back();
    }
    // The stack above the n-th adapter added.
    ndis::sim::Stack& Stack(std::size_t n = 0) { return *stacks_.at(n); }
    ndis::sim::Adapter& Adapter(std::size_t n = 0) { return *adapters_.at(n); }

    // A frame the workstation sends to `remote`, or receives from it (host-order addresses).
    static std::vector<std::uint8_t> Outgoing(std::uint32_t remote, std::uint8_t protocol,
                                              std::uint16_t localPort, std::uint16_t remotePort) {
        return Frame(kLocal, remote, protocol, localPort, remotePort);
    }
    static std::vector<std::uint8_t> Incoming(std::uint32_t remote, std::uint8_t protocol,
                                              std::uint16_t remotePort, std::uint16_t localPort) {
        return Frame(remote, kLocal, protocol, remotePort, localPort);
    }
    static std::vector<std::uint8_t> Frame(std::uint32_t source, std::uint32_t destination,
                                           std::uint8_t protocol, std::uint16_t sourcePort,
                                           std::uint16_t destinationPort) {
        fv::host::Ipv4FrameSpec layout;
        layout.source = source;
        layout.destination = destination;
        layout.protocol = protocol;
        layout.sourcePort = sourcePort;
        layout.destinationPort = destinationPort;
        layout.payload = 8;
        return fv::host::BuildIpv4Frame(layout);
    }
    static constexpr std::uint32_t kLocal = 0xC0A80102;  // 192.168.1.2

private:
    fv::host::DeviceBridge bridge_;
    bool loaded_ = false;
    std::vector<std::unique_ptr<ndis::sim::Adapter>> adapters_;
    std::vector<std::unique_ptr<ndis::sim::Stack>> stacks_;
};

}  // namespace fv::test
