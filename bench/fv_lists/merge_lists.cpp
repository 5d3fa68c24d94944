// Three subscribed lists of 300,000 ranges each (p2p, .dat and CIDR, local files) updated and
// merged into one file, as `ferrovane-lists update` does; prints the times.
//   build/bench/fv_lists/fv_merge_lists [FOLDER]
// 900,000 ranges are more than the program loads, so this also takes the joining path.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "fv_lists/FileIo.h"
#include "fv_lists/ListFormats.h"
#include "fv_lists/Merger.h"
#include "fv_lists/Updater.h"

namespace {

constexpr int kRangesPerSource = 300000;
constexpr std::uint32_t kBlockMask = ~std::uint32_t{0xFF};

std::string Address(std::uint32_t a) {
    char text[16];
    return std::string(text, fv::lists::FormatIpv4(a, text));
}

std::string Dotted3(std::uint32_t a) {
    char text[20];
    std::snprintf(text, sizeof text, "%03u.%03u.%03u.%03u", a >> 24, (a >> 16) & 255, (a >> 8) & 255, a & 255);
    return text;
}

void Generate(const std::string& dir) {
    std::mt19937 random(2026);
    std::string p2p, dat, cidr;
    for (int i = 0; i < kRangesPerSource; ++i) {
        const std::uint32_t first = static_cast<std::uint32_t>(random()) & kBlockMask;
        const std::uint32_t last = first + (static_cast<std::uint32_t>(random()) & 0xFF);
        p2p += "Generated hostile range " + std::to_string(i) + ":" + Address(first) + "-" + Address(last) + "\n";
        dat += Dotted3(first) + " - " + Dotted3(last) + " , 000 , Generated dat " + std::to_string(i) + "\n";
        cidr += Address(static_cast<std::uint32_t>(random()) & kBlockMask) + "/24\n";
    }
    std::ofstream(dir + "/a.p2p") << p2p;
    std::ofstream(dir + "/b.dat") << dat;
    std::ofstream(dir + "/c.txt") << cidr;
}

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// User and system time of the whole process (every thread), in milliseconds: on a machine that
// others share this is what the work itself costs.
double CpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "fv-merge-bench").string();
    std::filesystem::create_directories(dir);
    // The lists are made once per folder.
    if (!std::filesystem::exists(dir + "/c.txt")) Generate(dir);
    const std::vector<fv::lists::Source> sources = {{dir + "/a.p2p", fv::lists::kDefaultPeriodSeconds, "a"},
                                                    {dir + "/b.dat", fv::lists::kDefaultPeriodSeconds, "b"},
                                                    {dir + "/c.txt", fv::lists::kDefaultPeriodSeconds, "c"}};
    const fv::lists::ListPaths paths = fv::lists::ListPaths::Under(dir + "/config", dir + "/data");
    std::filesystem::remove_all(dir + "/data");

    // Parse and merge alone, in memory.
    const double cpuStart = CpuMs();
    auto start = std::chrono::steady_clock::now();
    std::vector<fv::lists::ParsedList> parsed(sources.size());
    std::vector<fv::lists::MergeInput> inputs;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        std::string body, error;
        fv::lists::ReadWholeFile(sources[i].location, fv::lists::kDefaultMaxListBytes, body, error);
        fv::lists::ParseList(body, parsed[i]);
        inputs.push_back({&parsed[i], sources[i].label});
    }
    const auto parsedAt = std::chrono::steady_clock::now();
    const fv::lists::MergeResult merged = fv::lists::MergeLists(inputs);
    const auto mergedAt = std::chrono::steady_clock::now();
    const double cpuMerged = CpuMs();

    // The whole update: read, parse, keep the copies, merge, write the file beside and rename.
    fv::lists::UpdateOptions options;
    options.now = 1;
    const auto updateStart = std::chrono::steady_clock::now();
    const fv::lists::UpdateReport report = fv::lists::UpdateLists(sources, paths, options);
    const auto updateEnd = std::chrono::steady_clock::now();
    const double cpuUpdated = CpuMs();

    std::printf("inputs=%zu+%zu+%zu ranges merged=%zu joined=%d dropped=%zu bytes=%zu\n", parsed[0].ranges.size(),
                parsed[1].ranges.size(), parsed[2].ranges.size(), merged.ranges, merged.joined, merged.dropped,
                merged.text.size());
    std::printf("read+parse_ms=%.1f merge_ms=%.1f (cpu_ms=%.1f) update_ms=%.1f (cpu_ms=%.1f) written=%d\n",
                Ms(parsedAt - start), Ms(mergedAt - parsedAt), cpuMerged - cpuStart, Ms(updateEnd - updateStart),
                cpuUpdated - cpuMerged, report.mergedWritten);
    return report.mergedWritten ? 0 : 1;
}
