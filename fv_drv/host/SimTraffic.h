// ferrovane-sys --sim: simulated adapters with a built-in traffic source, so that the whole
// system runs without root and without a network. A steady mix of TCP, UDP and ICMP frames goes
// to and comes from random remote addresses; a working set of recent addresses recurs, as a
// workstation's traffic does.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "fv_drv/ndis/sim/SimAdapter.h"
#include "fv_drv/ndis/sim/SimStack.h"

namespace fv::host {

class SimTraffic {
public:
    SimTraffic();
    ~SimTraffic();
    // Adds the adapters (the driver binds to them), attaches a stack above each and starts the
    // source. False if a virtual adapter did not appear.
    bool Start();
    void Stop();
    // Frames the adapters have carried so far, both ways.
    std::uint64_t Carried() const { return carried_.load(); }

private:
    void Run();

    std::vector<std::unique_ptr<ndis::sim::Adapter>> adapters_;
    std::vector<std::unique_ptr<ndis::sim::Stack>> stacks_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> carried_{0};
    std::thread thread_;
};

}  // namespace fv::host
