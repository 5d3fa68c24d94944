// Keeps the kernel's copy of one bound adapter's filter state current, and brings what the
// kernel counts and records back into the driver: its records into the adapter's rings under
// the same report rule, signalled as any other record.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "fv_drv/Driver/AdapterBinding.h"
#include "fv_drv/Driver/FilterMirror.h"
#include "fv_drv/ndis/bpf/KernelFilter.h"
#include "fv_platform/UniqueFd.h"

namespace fv::host {

class KernelMirror final : public FilterMirror {
public:
    // How often a growing count of records lost in the kernel is looked for.
    static constexpr int kLostCheckMs = 1000;

    KernelMirror(ndis::bpf_media::KernelFilter& kernel, std::string interfaceName)
        : kernel_(kernel), name_(std::move(interfaceName)) {}
    ~KernelMirror() { Stop(); }
    KernelMirror(const KernelMirror&) = delete;
    KernelMirror& operator=(const KernelMirror&) = delete;

    // Takes over the driver's binding of `lowerName`. `adopted`: the kernel holds a crashed
    // daemon's state, which becomes the adapter's; otherwise both start from zero.
    bool Start(const std::u16string& lowerName, bool adopted, std::string& error);
    // The adapter's decisions go back to the driver; the kernel's copy stays as it is.
    void Stop();
    // Called under the adapter lock after each table the kernel took (set before Start).
    void OnTable(std::function<void()> changed) { tableChanged_ = std::move(changed); }

    // FilterMirror, under the adapter lock.
    bool PutTable(const RangeTable* table) override;
    void PutSwitches(const FilterState& state) override;
    void GetCounts(FilterState& state) override;
    void ResetCounts() override;

private:
    bool Seed(FilterState& f, std::string& error);
    void Pump();
    void Deliver(const std::vector<std::pair<PacketEventRecord, bool>>& records);

    ndis::bpf_media::KernelFilter& kernel_;
    std::string name_;
    AdapterBinding* binding_ = nullptr;
    fv::UniqueFd stopFd_;
    std::thread pump_;
    std::uint64_t lostSeen_ = 0;
    std::function<void()> tableChanged_;
};

}  // namespace fv::host
