// Builds Ethernet II + IPv4 frames: the simulated traffic, the tests, benchmarks and fuzzers.
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
    std::size_t payload = 0;             // bytes after the 8-byte transport header
    std::uint8_t payloadFill = 0;
    std::uint16_t etherType = 0x0800;    // other types and versions make frames the filter passes by
    std::uint8_t version = 4;
    std::uint8_t optionWords = 0;        // 32-bit words of IPv4 options, filled with 0xA0 + offset
};

std::vector<std::uint8_t> BuildIpv4Frame(const Ipv4FrameSpec& shape);

}  // namespace fv::host
