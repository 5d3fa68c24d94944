#include "fv_drv/host/Ipv4Frame.h"

#include <cstring>

namespace fv::host {
namespace {

constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kIpHeader = 20;  // without options
constexpr std::uint8_t kOptionFill = 0xA0;
constexpr std::size_t kTransportHeader = 8;  // room for the ports and a little more
constexpr std::uint8_t kTtl = 64;

void PutBe16(std::uint8_t* at, std::uint16_t v) {
    at[0] = std::uint8_t(v >> 8);
    at[1] = std::uint8_t(v);
}

void PutBe32(std::uint8_t* at, std::uint32_t v) {
    PutBe16(at, std::uint16_t(v >> 16));
    PutBe16(at + 2, std::uint16_t(v));
}

std::uint16_t HeaderChecksum(const std::uint8_t* header, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; i += 2)
        sum += std::uint32_t(header[i] << 8 | header[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

}  // namespace

std::vector<std::uint8_t> BuildIpv4Frame(const Ipv4FrameSpec& s) {
    const std::size_t ipHeader = kIpHeader + 4 * std::size_t(s.optionWords);
    std::vector<std::uint8_t> f(kEthernetHeader + ipHeader + kTransportHeader, 0);
    f.resize(f.size() + s.payload, s.payloadFill);
    std::memcpy(f.data(), s.destinationMac.data(), 6);
    std::memcpy(f.data() + 6, s.sourceMac.data(), 6);
    PutBe16(&f[12], s.etherType);
    std::uint8_t* ip = &f[kEthernetHeader];
    ip[0] = std::uint8_t(s.version << 4 | ipHeader / 4);
    PutBe16(ip + 2, std::uint16_t(f.size() - kEthernetHeader));
    ip[8] = kTtl;
    ip[9] = s.protocol;
    PutBe32(ip + 12, s.source);
    PutBe32(ip + 16, s.destination);
    for (std::size_t i = kIpHeader; i < ipHeader; ++i) ip[i] = std::uint8_t(kOptionFill + i);
    PutBe16(ip + 10, HeaderChecksum(ip, ipHeader));
    PutBe16(ip + ipHeader, s.sourcePort);
    PutBe16(ip + ipHeader + 2, s.destinationPort);
    return f;
}

}  // namespace fv::host
