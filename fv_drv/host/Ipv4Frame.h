// Builds Ethernet II + IPv4 frames for the simulated traffic and the benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace fv::host {

struct Ipv4FrameSpec {
    std::array<std::uint8_t, 6> destinationMac{};
    std::array<std::uint8_t, 6> sourceMac{};
    std::uint32_t source = 0;       // host order
    std::uint32_t destination = 0;  // host order
    std::uint8_t protocol = 6;
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    std::size_t payload = 0;
};

std::vector<std::uint8_t> BuildIpv4Frame(const Ipv4FrameSpec& shape);

}  // namespace fv::host
