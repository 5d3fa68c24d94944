// BM_RenderCreditsPages: one layout of a credits text of 40 lines into the two 5,000-row pages
// of a 260-pixel-wide view (what every SetMarkup and resize costs). Offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <string>

#include "fv_gui/richtext/RichTextPages.h"

namespace {

std::string Credits() {
    std::string text =
        "<br><br><p><br><font face=\"Tahoma\" size=\"13\" style=\"b\" align=\"center\">Ferrovane</font>\n"
        "<font face=\"Tahoma\" size=\"12\" align=\"center\">With thanks to\n"
        "<a href=\"https://example.org/\" color=\"0,0,255\" style=\"u\">the project's web site</a>\n";
    for (int n = 0; n < 36; ++n) text += "Contributor number " + std::to_string(n) + "\n";
    text += "<hr>and everybody else.\n</font>";
    return text;
}

void BM_RenderCreditsPages(benchmark::State& state) {
    const std::string markup = Credits();
    int height = 0;
    for (auto _ : state) {
        const auto pages = fv::richtext::RenderPages(markup, 260, 0xFFFFFFFFu, 0xFF808080u);
        height = pages.contentHeight;
        benchmark::DoNotOptimize(pages.normal.constBits());
    }
    state.counters["content_rows"] = height;
}
BENCHMARK(BM_RenderCreditsPages)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
