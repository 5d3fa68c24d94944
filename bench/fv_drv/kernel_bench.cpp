// The kernel filter (root): moving the largest table into the kernel, and the per-packet cost
// of the kernel's decision by test run, beside fv_bench_filter's BM_FilterPacket.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <bpf/bpf.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/fv_drv/BenchTables.h"
#include "fv_drv/host/Ipv4Frame.h"
#include "fv_drv/ndis/bpf/KernelFilter.h"

namespace {

constexpr std::uint32_t kEntries = FV_MAX_RANGES;
constexpr std::size_t kFrames = 1 << 12;
constexpr int kRepeat = 1000;  // runs of one frame per test run

const RangeTable* Table() {
    static const std::vector<std::uint8_t> image = fv::bench::HalfTheSpace(kEntries);
    return fv::bench::AsTable(image);
}

bool Loaded(benchmark::State& st, ndis::bpf_media::KernelFilter& kernel) {
    std::string error;
    if (kernel.Load(error)) return true;
    st.SkipWithError(("no kernel filter here (needs root and BPF): " + error).c_str());
    return false;
}

// Building the new table beside the old one and swapping it in; the file's loading is not
// counted.
void BM_KernelTableMove(benchmark::State& st) {
    ndis::bpf_media::KernelFilter kernel;
    if (!Loaded(st, kernel)) return;
    const RangeTable* table = Table();
    for (auto _ : st) {
        std::string error;
        if (!kernel.SetTable(table, error)) {
            st.SkipWithError(error.c_str());
            return;
        }
    }
    st.counters["ranges"] = kEntries;
}

// Outgoing TCP frames to random addresses, each run `kRepeat` times by the kernel: the
// kernel's own measure of one decision, counting included, with filtering on. Over the largest
// table, and over the one-entry table attach_bench.sh runs with.
void BM_KernelDecision(benchmark::State& st) {
    ndis::bpf_media::KernelFilter kernel;
    if (!Loaded(st, kernel)) return;
    std::string error;
    const std::vector<std::uint8_t> one = fv::bench::OneAddress(fv::bench::kUnusedAddress);  // as fv_filter_on uploads
    const RangeTable* table = st.range(0) == 1 ? fv::bench::AsTable(one) : Table();
    if (!kernel.SetTable(table, error) || !kernel.SetSwitches(true, false, false, false, false)) {
        st.SkipWithError(error.c_str());
        return;
    }
    std::mt19937 rng(11);
    std::vector<std::vector<std::uint8_t>> frames(kFrames);
    for (auto& f : frames) {
        fv::host::Ipv4FrameSpec tcp;
        tcp.payload = 12;
        tcp.destination = std::uint32_t(rng());
        f = fv::host::BuildIpv4Frame(tcp);
    }
    std::size_t i = 0;
    double nanoseconds = 0;
    for (auto _ : st) {
        auto& f = frames[i++ % kFrames];
        LIBBPF_OPTS(bpf_test_run_opts, run, .data_in = f.data(),
                    .data_size_in = std::uint32_t(f.size()), .repeat = kRepeat);
        if (bpf_prog_test_run_opts(kernel.EgressFd(), &run) != 0) {
            st.SkipWithError("test run refused");
            return;
        }
        // The kernel reports the mean of the repeats; an iteration is all of them.
        st.SetIterationTime(double(run.duration) * kRepeat * 1e-9);
        nanoseconds += double(run.duration);
    }
    st.counters["ns_per_packet"] = nanoseconds / double(st.iterations());
}

}  // namespace

BENCHMARK(BM_KernelTableMove)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KernelDecision)->Arg(1)->Arg(kEntries)->UseManualTime();
BENCHMARK_MAIN();
