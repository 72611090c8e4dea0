// The engine report: `measure --all` for one rate pair (every engine that runs here, its
// signals, spectra and figures) against its own peer, converting the same test signals
// through the same engines without analysing them; and a cached report opening (table and
// plots drawn) as the window does.
#include "analysis/engine_measurement.h"
#include "analysis/report_table.h"
#include "engines/engine_table.h"
#include "plots/report_plots.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

namespace sonteva::analysis {
namespace {

void measureAll(benchmark::State& state) {
    const int64_t in = state.range(0), out = state.range(1);
    for (auto _ : state) {
        const ProbeSet probes = makeProbeSet(in, out, false);
        auto reports = measureAllEngines(probes);
        benchmark::DoNotOptimize(reports);
    }
}

// The peer: the same conversions, nothing measured.
void convertOnly(benchmark::State& state) {
    const int64_t in = state.range(0), out = state.range(1);
    const ProbeSet probes = makeProbeSet(in, out, false);
    for (auto _ : state) {
        for (const EngineInfo& e : engineTable()) {
            std::string whyNot;
            if (auto c = engineConverter(e.name, in, out, &whyNot)) {
                auto output = c->convert(probes.input, nullptr);
                benchmark::DoNotOptimize(output);
            }
        }
    }
}

// What the window does with a report it has: the table and the plots of one engine.
void openCached(benchmark::State& state) {
    const ProbeSet probes = makeProbeSet(96000, 44100, true);
    MeasureOptions options;
    options.plots = true;
    std::vector<EngineReport> reports;
    for (const EngineInfo& e : engineTable())
        reports.push_back(measureEngine(e.name, probes, options));
    for (auto _ : state) {
        const ReportTable table = reportTable(reports);
        const QImage image = renderReportPlots(reports.front());
        benchmark::DoNotOptimize(table);
        benchmark::DoNotOptimize(image);
    }
}

BENCHMARK(measureAll)
    ->Args({96000, 44100})
    ->Args({192000, 48000})
    ->Args({44100, 384000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(convertOnly)
    ->Args({96000, 44100})
    ->Args({192000, 48000})
    ->Args({44100, 384000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(openCached)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace sonteva::analysis

int main(int argc, char** argv) {
    // The plots draw text, which needs a GUI application; no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
