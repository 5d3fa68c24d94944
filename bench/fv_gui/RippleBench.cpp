// BM_RippleStep: one animation frame of the about box's ripple (render and update of
// 200 × 149 cells) on a surface kept moving by a click every 64 frames.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "fv_gui/app/Ripple.h"

namespace {

void BM_RippleStep(benchmark::State& state) {
    fv::Ripple ripple;
    const std::size_t cells = static_cast<std::size_t>(ripple.Width()) * static_cast<std::size_t>(ripple.Height());
    std::vector<std::uint32_t> source(cells);
    for (std::size_t i = 0; i < cells; ++i) source[i] = static_cast<std::uint32_t>(i * 2654435761u) | 0xFF000000u;
    std::vector<std::uint32_t> display = source;
    std::uint32_t frame = 0;
    for (auto _ : state) {
        if (frame++ % 64 == 0) {
            ripple.Disturb(static_cast<int>(frame % 200), static_cast<int>(frame % 149), fv::Ripple::kClickRadius,
                           fv::Ripple::kClickDepth);
        }
        benchmark::DoNotOptimize(ripple.Step(source, display));
        benchmark::ClobberMemory();
    }
    state.counters["cells"] = static_cast<double>(cells);
}
BENCHMARK(BM_RippleStep)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
