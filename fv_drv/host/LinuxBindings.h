// ferrovane-sys --bind: real interfaces below the driver, TAP devices above it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fv_drv/host/HostOptions.h"
#include "fv_drv/host/InterfaceClaim.h"
#include "fv_drv/host/StateFolder.h"
#include "fv_drv/ndis/linux/LinuxAdapter.h"
#include "fv_drv/ndis/linux/TapStack.h"

namespace fv::host {

class LinuxBindings {
public:
    ~LinuxBindings();
    // Binds each interface, claimed in `state`, and creates its TAP. The interface's settings
    // from before are kept in `state` until they are restored. On failure nothing stays bound.
    bool Start(const std::vector<Binding>& bindings, const StateFolder& state, std::string& error);
    void Stop();

private:
    struct Port {
        InterfaceClaim claim;  // first: released after the settings are back
        std::unique_ptr<ndis::linux_media::LinuxAdapter> adapter;
        std::unique_ptr<ndis::linux_media::TapStack> tap;
        bool added = false;
    };
    std::vector<Port> ports_;
};

}  // namespace fv::host
