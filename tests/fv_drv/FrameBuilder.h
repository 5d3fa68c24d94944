// Test frames, and packets whose frame is split over a buffer chain.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <vector>

#include "fv_drv/host/Ipv4Frame.h"
#include "fv_drv/ndis/ndis.h"

namespace fv::test {

inline std::uint32_t Ip(int a, int b, int c, int d) {
    return std::uint32_t(a) << 24 | std::uint32_t(b) << 16 | std::uint32_t(c) << 8 | std::uint32_t(d);
}

// The builder's frame with the tests' usual shape: an outgoing TCP packet to 8.8.8.8:443.
struct FrameSpec : fv::host::Ipv4FrameSpec {
    FrameSpec() {
        for (std::uint8_t i = 0; i < 6; ++i) {
            destinationMac[i] = std::uint8_t(0x10 + i);
            sourceMac[i] = std::uint8_t(0x16 + i);
        }
        source = Ip(192, 168, 1, 2);
        destination = Ip(8, 8, 8, 8);
        sourcePort = 40000;
        destinationPort = 443;
        payload = 8;
        payloadFill = 0x55;
    }
};

inline std::vector<std::uint8_t> BuildFrame(const FrameSpec& s) { return fv::host::BuildIpv4Frame(s); }

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
