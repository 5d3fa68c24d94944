// Held while an interface is bound or attached: no second daemon in this network namespace can
// take it. A lock on a file in the daemon's own folder, so nobody else can hold it first; the
// kernel releases it when the process ends, however it ends.
#pragma once

#include <string>

#include "fv_drv/host/StateFolder.h"
#include "fv_platform/UniqueFd.h"

namespace fv::host {

class InterfaceClaim {
public:
    bool Take(const StateFolder& folder, const std::string& interfaceName, std::string& error);

private:
    fv::UniqueFd lock_;
};

}  // namespace fv::host
