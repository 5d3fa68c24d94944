// Loads one blocklist the way the driver session does and prints the time, the counts and the
// process's peak resident memory. Without an argument it loads the benchmark's generated file.
//   /usr/bin/time -v build/bench/fv_gui/fv_load_blocklist [FILE]
#include <sys/resource.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <memory>

#include "bench/fv_gui/BlocklistFile.h"
#include "fv_gui/blocklist/IpTable.h"

int main(int argc, char** argv) {
    const std::string path =
        argc > 1 ? std::string(argv[1]) : fv::bench::GenerateBlocklist(fv::bench::BlocklistPath());
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    auto buffer = std::make_unique<std::uint64_t[]>(fv::kSessionRangeBufferSize / 8 + 1);
    auto* table = reinterpret_cast<RangeTable*>(buffer.get());
    table->count = 0;
    fv::IpTable ipTable;
    const bool loaded = ipTable.Load(path, table, fv::kSessionRangeBufferSize);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    std::printf("loaded=%d ranges=%d addresses=%" PRIu64 " stored=%zu time_ms=%.1f peak_rss_kb=%ld (before load %ld)\n",
                loaded, ipTable.RangeCount(), ipTable.AddressCount(), ipTable.StoredCount(),
                std::chrono::duration<double, std::milli>(elapsed).count(), after.ru_maxrss,
                before.ru_maxrss);
    return loaded ? 0 : 1;
}
