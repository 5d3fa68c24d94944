// Builds Ethernet II + IPv4 frames and packets whose frame is split over a buffer chain.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <vector>

#include "fv_drv/ndis/ndis.h"

namespace fv::test {

inline std::uint32_t Ip(int a, int b, int c, int d) {
    return std::uint32_t(a) << 24 | std::uint32_t(b) << 16 | std::uint32_t(c) << 8 | std::uint32_t(d);
}

struct FrameSpec {
    std::uint32_t source = Ip(192, 168, 1, 2);
    std::uint32_t destination = Ip(8, 8, 8, 8);
    std::uint8_t protocol = 6;
    std::uint16_t sourcePort = 40000;
    std::uint16_t destinationPort = 443;
    std::uint16_t etherType = 0x0800;
    std::uint8_t version = 4;
    std::uint8_t optionWords = 0;  // extra 32-bit words of IPv4 options
    std::size_t payload = 8;
};

inline std::vector<std::uint8_t> BuildFrame(const FrameSpec& s) {
    std::vector<std::uint8_t> f(14, 0);
    for (int i = 0; i < 12; ++i) f[i] = std::uint8_t(0x10 + i);
    f[12] = std::uint8_t(s.etherType >> 8);
    f[13] = std::uint8_t(s.etherType);
    const std::size_t ihl = 5 + s.optionWords;
    std::vector<std::uint8_t> ip(ihl * 4, 0);
    ip[0] = std::uint8_t(s.version << 4 | ihl);
    ip[8] = 64;
    ip[9] = s.protocol;
    for (int i = 0; i < 4; ++i) {
        ip[12 + i] = std::uint8_t(s.source >> (24 - 8 * i));
        ip[16 + i] = std::uint8_t(s.destination >> (24 - 8 * i));
    }
    for (std::size_t i = 20; i < ip.size(); ++i) ip[i] = std::uint8_t(0xA0 + i);  // options
    f.insert(f.end(), ip.begin(), ip.end());
    f.push_back(std::uint8_t(s.sourcePort >> 8));
    f.push_back(std::uint8_t(s.sourcePort));
    f.push_back(std::uint8_t(s.destinationPort >> 8));
    f.push_back(std::uint8_t(s.destinationPort));
    f.resize(f.size() + s.payload, 0x55);
    return f;
}

// A packet descriptor over a copy of `frame`, split at the given cut points.
class TestPacket {
public:
    explicit TestPacket(std::vector<std::uint8_t> frame, std::initializer_list<std::size_t> cuts = {})
        : frame_(std::move(frame)) {
        std::size_t start = 0;
        std::vector<std::size_t> ends(cuts);
        ends.push_back(frame_.size());
        for (std::size_t end : ends) {
            NDIS_BUFFER& b = buffers_.emplace_back();
            b.VirtualAddress = frame_.data() + start;
            b.Length = UINT(end - start);
            NdisChainBufferAtBack(&packet_, &b);
            start = end;
        }
    }
    TestPacket(const TestPacket&) = delete;
    PNDIS_PACKET get() { return &packet_; }

private:
    std::vector<std::uint8_t> frame_;
    std::deque<NDIS_BUFFER> buffers_;
    NDIS_PACKET packet_;
};

}  // namespace fv::test
