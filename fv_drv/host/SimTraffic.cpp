#include "fv_drv/host/SimTraffic.h"

#include <array>
#include <chrono>
#include <iterator>
#include <random>

#include "fv_drv/host/Ipv4Frame.h"

namespace fv::host {
namespace {

constexpr auto kTick = std::chrono::milliseconds(50);
constexpr int kFramesPerTick = 4;
constexpr std::size_t kWorkingSet = 64;
constexpr std::uint32_t kLocalAddress = 0xC0A80164;  // 192.168.1.100
constexpr std::uint16_t kEphemeralBase = 49152;

struct Service {
    std::uint8_t protocol;
    std::uint16_t port;
};
constexpr Service kServices[] = {{6, 443},   {6, 80}, {17, 53}, {6, 6881},
                                 {17, 6881}, {1, 0},  {6, 25},  {17, 123}};

std::vector<ndis::sim::AdapterConfig> Configs() {
    ndis::sim::AdapterConfig ethernet;
    ethernet.Name = u"sim0";
    ethernet.UpperBindings = u"fv-sim0";
    ethernet.VendorDescription = "Ferrovane Simulated Ethernet Adapter";
    ethernet.Address = {0x02, 0x46, 0x56, 0x00, 0x00, 0x01};
    ndis::sim::AdapterConfig wan = ethernet;
    wan.Name = u"sim1";
    wan.UpperBindings = u"fv-sim1";
    wan.Medium = NdisMediumWan;
    wan.VendorDescription = "Ferrovane Simulated WAN Miniport";
    wan.Address = {0x02, 0x46, 0x56, 0x00, 0x00, 0x02};
    return {ethernet, wan};
}

}  // namespace

SimTraffic::SimTraffic() = default;

SimTraffic::~SimTraffic() {
    Stop();
}

bool SimTraffic::Start() {
    for (const ndis::sim::AdapterConfig& config : Configs()) {
        adapters_.push_back(std::make_unique<ndis::sim::Adapter>(config));
        adapters_.back()->KeepHistory = false;
        ndis::host::AddLowerAdapter(adapters_.back().get());
        stacks_.push_back(std::make_unique<ndis::sim::Stack>());
        stacks_.back()->KeepHistory = false;
        if (!stacks_.back()->Bind(config.UpperBindings)) return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void SimTraffic::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (auto& s : stacks_) s->Close();
    for (auto& a : adapters_) ndis::host::RemoveLowerAdapter(a.get());
    stacks_.clear();
    adapters_.clear();
}

void SimTraffic::Run() {
    std::mt19937 rng(std::random_device{}());
    std::vector<std::uint32_t> recent(kWorkingSet);
    for (auto& a : recent) a = std::uint32_t(rng());
    const std::array<std::uint8_t, 6> gateway = {0x02, 0x46, 0x56, 0x00, 0x00, 0xFE};
    auto next = std::chrono::steady_clock::now();
    while (!stop_.load()) {
        for (std::size_t i = 0; i < adapters_.size(); ++i) {
            for (int f = 0; f < kFramesPerTick; ++f) {
                // Mostly the working set; now and then a new address takes a place in it.
                std::uint32_t& slot = recent[rng() % kWorkingSet];
                if (rng() % 8 == 0) slot = std::uint32_t(rng());
                const Service& service = kServices[rng() % std::size(kServices)];
                const bool outgoing = rng() % 2 == 0;
                const std::uint16_t ephemeral = std::uint16_t(kEphemeralBase + rng() % 16000);
                Ipv4FrameSpec shape;
                shape.protocol = service.protocol;
                shape.payload = rng() % 64;
                if (outgoing) {
                    shape.sourceMac = {0x02, 0x46, 0x56, 0x00, 0x00, std::uint8_t(i + 1)};
                    shape.destinationMac = gateway;
                    shape.source = kLocalAddress;
                    shape.destination = slot;
                    shape.sourcePort = ephemeral;
                    shape.destinationPort = service.port;
                    stacks_[i]->Send(BuildIpv4Frame(shape));
                } else {
                    shape.sourceMac = gateway;
                    shape.destinationMac = {0x02, 0x46, 0x56, 0x00, 0x00, std::uint8_t(i + 1)};
                    shape.source = slot;
                    shape.destination = kLocalAddress;
                    shape.sourcePort = service.port;
                    shape.destinationPort = ephemeral;
                    adapters_[i]->IndicatePacket(BuildIpv4Frame(shape));
                }
                carried_.fetch_add(1);
            }
        }
        next += kTick;
        std::this_thread::sleep_until(next);
    }
}

}  // namespace fv::host
