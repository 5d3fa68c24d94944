// Serves the driver's control device on the control socket: each connection becomes a file
// object, and its hello, requests and end become create, device-control, cleanup and close
// requests to the driver's dispatch routines.
#pragma once

#include <mutex>
#include <string>

#include "fv_drv/host/ControlServer.h"
#include "fv_drv/host/ProcessWatch.h"
#include "fv_drv/ndis/ndis_device.h"

namespace fv::host {

class DeviceBridge final : public ndis::host::DeviceHost, public ControlDevice {
public:
    // The device appears as `socketPath` while the driver has it registered.
    DeviceBridge(std::string socketPath, PeerPolicy policy);
    ~DeviceBridge() override;

    // ndis::host::DeviceHost
    NDIS_STATUS DeviceAdded(PDEVICE_OBJECT device) override;
    void DeviceRemoved(PDEVICE_OBJECT device) override;

    // ControlDevice
    std::uint32_t Create(std::vector<NamedEventFd> events,
                         std::unique_ptr<ControlHandle>& handle) override;
    bool UsesEvent(const std::string& name) const override;
    std::uint32_t CreateFor(pid_t peer, std::vector<NamedEventFd> events,
                            std::unique_ptr<ControlHandle>& handle) override;

    bool Serving();

private:
    std::string socketPath_;
    ProcessWatch creators_;  // outlives the server's handles, which add to it
    ControlServer server_;
    std::mutex lock_;
    PDEVICE_OBJECT device_ = nullptr;
};

}  // namespace fv::host
