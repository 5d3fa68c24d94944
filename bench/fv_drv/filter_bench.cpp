// The per-packet decision against a full-size table, and a bare upper_bound over the same
// entries for comparison (the memory-bound floor of any search).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "fv_drv/Driver/FilterEngine.h"
#include "bench/fv_drv/BenchTables.h"
#include "fv_drv/host/Ipv4Frame.h"

namespace {

constexpr std::uint32_t kEntries = 524280;  // the most one upload can hold
constexpr std::size_t kTraceLength = 1 << 16;
constexpr std::size_t kHotAddresses = 1000;

const RangeTable* Table() {
    static const std::vector<std::uint8_t> image = fv::bench::HalfTheSpace(kEntries);
    return fv::bench::AsTable(image);
}

std::vector<std::uint32_t> Addresses(std::size_t distinct) {
    std::mt19937 rng(11);
    std::vector<std::uint32_t> pool(distinct);
    for (auto& a : pool) a = std::uint32_t(rng());
    std::vector<std::uint32_t> trace(kTraceLength);
    for (auto& a : trace) a = pool[rng() % distinct];
    return trace;
}

// A few outgoing IPv4 TCP packets in rotation; each iteration writes the next remote address
// into one of them, as a freshly arrived packet sits in the cache.
constexpr std::size_t kPackets = 16;

struct Packets {
    Packets() {
        for (std::size_t i = 0; i < kPackets; ++i) {
            auto& f = frames[i];
            fv::host::Ipv4FrameSpec tcp;
            tcp.payload = 12;  // a 20-byte TCP header
            f = fv::host::BuildIpv4Frame(tcp);
            buffers[i].VirtualAddress = f.data();
            buffers[i].Length = UINT(f.size());
            NdisChainBufferAtBack(&packets[i], &buffers[i]);
        }
    }
    PNDIS_PACKET Next(std::size_t i, std::uint32_t remote) {
        const std::uint32_t net = htonl(remote);
        std::memcpy(&frames[i % kPackets][14 + 16], &net, 4);
        return &packets[i % kPackets];
    }
    std::vector<std::uint8_t> frames[kPackets];
    NDIS_BUFFER buffers[kPackets];
    NDIS_PACKET packets[kPackets];
};

void RunFilter(benchmark::State& st, std::size_t distinct) {
    const std::vector<std::uint32_t> remotes = Addresses(distinct);
    Packets packets;
    FilterState state;
    NDIS_SPIN_LOCK lock;
    NdisAllocateSpinLock(&lock);
    state.Ranges = const_cast<RangeTable*>(Table());
    state.FilteringEnabled = 1;
    std::size_t i = 0;
    for (auto _ : st) {
        PNDIS_PACKET packet = packets.Next(i, remotes[i]);
        benchmark::DoNotOptimize(
            FilterPacket(state, lock, packet, PacketDirection::Outgoing, false));
        i = (i + 1) & (kTraceLength - 1);
    }
    st.counters["blocked_share"] = double(state.SentBlockedCount) / double(state.SentCount);
}

void BM_FilterPacket(benchmark::State& st) { RunFilter(st, kTraceLength); }
void BM_FilterPacketHot(benchmark::State& st) { RunFilter(st, kHotAddresses); }

void BM_UpperBound(benchmark::State& st) {
    const std::vector<std::uint32_t> keys = Addresses(kTraceLength);
    const RangeEntry* begin = Table()->Entries();
    const RangeEntry* end = begin + kEntries;
    std::size_t i = 0;
    for (auto _ : st) {
        const std::uint32_t key = keys[i];
        benchmark::DoNotOptimize(std::upper_bound(
            begin, end, key, [](std::uint32_t k, const RangeEntry& e) { return k < e.first; }));
        i = (i + 1) & (kTraceLength - 1);
    }
}

}  // namespace

BENCHMARK(BM_UpperBound);
BENCHMARK(BM_FilterPacket);
BENCHMARK(BM_FilterPacketHot);
BENCHMARK_MAIN();
