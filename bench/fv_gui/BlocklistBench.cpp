// BM_LoadBlocklist: IpTable::Load of the generated 600,000-line file into the session's
// 4,194,250-byte buffer. BM_LookupName: LookupName of uniformly random addresses on that store.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bench/fv_gui/BlocklistFile.h"
#include "fv_gui/blocklist/IpTable.h"

namespace {

struct Buffer {
    std::vector<std::uint64_t> storage = std::vector<std::uint64_t>(fv::kSessionRangeBufferSize / 8 + 1);
    RangeTable* Table() { return reinterpret_cast<RangeTable*>(storage.data()); }
};

void BM_LoadBlocklist(benchmark::State& state) {
    const std::string path = fv::bench::GenerateBlocklist(fv::bench::BlocklistPath());
    std::int32_t ranges = 0;
    std::size_t stored = 0;
    for (auto _ : state) {
        Buffer buffer;
        fv::IpTable table;
        if (!table.Load(path, buffer.Table(), fv::kSessionRangeBufferSize)) {
            state.SkipWithError("the blocklist did not load");
            return;
        }
        ranges = table.RangeCount();
        stored = table.StoredCount();
        benchmark::DoNotOptimize(buffer.Table()->count);
    }
    state.counters["ranges"] = ranges;
    state.counters["stored"] = static_cast<double>(stored);
}
BENCHMARK(BM_LoadBlocklist)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LookupName(benchmark::State& state) {
    const std::string path = fv::bench::GenerateBlocklist(fv::bench::BlocklistPath());
    Buffer buffer;
    fv::IpTable table;
    if (!table.Load(path, buffer.Table(), fv::kSessionRangeBufferSize)) {
        state.SkipWithError("the blocklist did not load");
        return;
    }
    std::mt19937 random(1);
    std::vector<std::uint32_t> addresses(1 << 20);
    for (auto& address : addresses) address = static_cast<std::uint32_t>(random());
    std::string description;
    std::size_t i = 0;
    std::int64_t found = 0;
    for (auto _ : state) {
        found += table.LookupName(addresses[i++ & (addresses.size() - 1)], description);
        benchmark::DoNotOptimize(description.data());
    }
    state.counters["hit_ratio"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LookupName);

}  // namespace

BENCHMARK_MAIN();
