// Runs the filter engine over a generated trace: frames to and from random addresses against a
// generated table of sorted, disjoint ranges. Prints a sample of verdicts and the six counters.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "fv_drv/Driver/FilterEngine.h"

namespace {

constexpr std::uint32_t kRanges = 100000;
constexpr int kFrames = 1000000;
constexpr int kVerdictsShown = 12;

std::vector<std::uint8_t> MakeTable(std::mt19937& rng) {
    std::vector<std::uint8_t> image(RangeTableImageSize(kRanges), 0);
    std::memcpy(image.data(), &kRanges, sizeof kRanges);
    auto* entries = reinterpret_cast<RangeEntry*>(image.data() + sizeof(RangeTable));
    // Spread the ranges evenly over the address space with random gaps and spans.
    const std::uint32_t stride = std::uint32_t((1ull << 32) / kRanges);
    for (std::uint32_t i = 0; i < kRanges; ++i) {
        const std::uint32_t span = rng() % (stride / 2);
        const std::uint32_t start = i * stride + rng() % (stride - span);
        entries[i] = {start, span};
    }
    return image;
}

std::vector<std::uint8_t> MakeFrame(std::uint32_t remote, bool outgoing, std::uint8_t protocol) {
    std::vector<std::uint8_t> f(14 + 20 + 8, 0);
    f[12] = 0x08;
    f[14] = 0x45;
    f[14 + 9] = protocol;
    const std::uint32_t local = htonl(0xC0A80102);  // 192.168.1.2
    const std::uint32_t far = htonl(remote);
    std::memcpy(&f[14 + 12], outgoing ? &local : &far, 4);
    std::memcpy(&f[14 + 16], outgoing ? &far : &local, 4);
    f[34] = 0x9C;
    f[35] = 0x40;
    f[37] = 80;
    return f;
}

const char* ProtocolText(std::uint8_t p) {
    return p == 6 ? "TCP" : p == 17 ? "UDP" : "ICMP";
}

}  // namespace

int main() {
    std::mt19937 rng(20261207);
    std::vector<std::uint8_t> table = MakeTable(rng);
    FilterState state;
    NDIS_SPIN_LOCK lock;
    NdisAllocateSpinLock(&lock);
    state.Ranges = reinterpret_cast<RangeTable*>(table.data());
    state.FilteringEnabled = 1;

    const std::uint8_t protocols[] = {6, 17, 1};
    std::printf("range table: %u ranges; trace: %d frames\n\n", kRanges, kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const std::uint32_t remote = rng();
        const bool outgoing = (rng() & 1) != 0;
        const std::uint8_t protocol = protocols[rng() % 3];
        std::vector<std::uint8_t> frame = MakeFrame(remote, outgoing, protocol);
        NDIS_BUFFER buffer;
        buffer.VirtualAddress = frame.data();
        buffer.Length = UINT(frame.size());
        NDIS_PACKET packet;
        NdisChainBufferAtBack(&packet, &buffer);
        const int verdict = FilterPacket(
            state, lock, &packet, outgoing ? PacketDirection::Outgoing : PacketDirection::Incoming,
            !outgoing);
        if (i < kVerdictsShown) {
            in_addr a{htonl(remote)};
            std::printf("%-5s %s %-15s %s\n", ProtocolText(protocol), outgoing ? "->" : "<-",
                        inet_ntoa(a), verdict == kVerdictBlock ? "BLOCKED" : "passed");
        }
    }
    std::printf(
        "...\n\nSentCount             %u\nSentBlockedCount      %u\n"
        "Reserved1Count        %u\nReserved2Count        %u\n"
        "ReceivedCount         %u\nReceivedBlockedCount  %u\n",
        state.SentCount, state.SentBlockedCount, state.Reserved1Count, state.Reserved2Count,
        state.ReceivedCount, state.ReceivedBlockedCount);
    return 0;
}
