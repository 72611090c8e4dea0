// Conversion speed of the flagship engine against libsoxr's very-high-quality recipe
// and against the plain loop, in output samples per second for one channel.
#include "audio_io/dither.h"
#include "dsp/convolution.h"
#include "dsp/inhouse_engines.h"

#include <benchmark/benchmark.h>
#include <soxr.h>

#include <cmath>
#include <string>
#include <vector>

using namespace sonteva;

namespace {

constexpr size_t kBlock = 65536;

std::vector<double> signal(size_t n) {
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = 0.5 * std::sin(0.013 * i) + 0.3 * std::sin(0.31 * i);
    return x;
}

void runEngine(benchmark::State& state, conv::Isa isa) {
    const int64_t fsIn = state.range(0), fsOut = state.range(1);
    const auto x = signal(kBlock);
    const conv::Isa before = conv::activeIsa();
    conv::setActiveIsa(isa);
    auto engine = SontevaSRC::makeEngine(fsIn, fsOut);
    int64_t produced = 0;
    for (auto _ : state) {
        auto y = engine->processBlock(x);
        produced += int64_t(y.size());
        benchmark::DoNotOptimize(y.data());
    }
    conv::setActiveIsa(before);
    state.counters["out_samples_per_s"] =
        benchmark::Counter(double(produced), benchmark::Counter::kIsRate);
    state.SetLabel(conv::isaName(isa));
}

void BM_SontevaSRC(benchmark::State& state) {
    runEngine(state, conv::activeIsa());
}
void BM_SontevaSRC_plain(benchmark::State& state) {
    runEngine(state, conv::Isa::plain);
}

void BM_SoxrVHQ(benchmark::State& state) {
    const double fsIn = double(state.range(0)), fsOut = double(state.range(1));
    const auto x = signal(kBlock);
    soxr_error_t err = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_VHQ, 0);
    soxr_t soxr = soxr_create(fsIn, fsOut, 1, &err, &io, &q, nullptr);
    std::vector<double> out(size_t(kBlock * fsOut / fsIn) + 8192);
    int64_t produced = 0;
    for (auto _ : state) {
        size_t idone = 0, odone = 0;
        soxr_process(soxr, x.data(), x.size(), &idone, out.data(), out.size(), &odone);
        produced += int64_t(odone);
        benchmark::DoNotOptimize(out.data());
    }
    soxr_delete(soxr);
    state.counters["out_samples_per_s"] =
        benchmark::Counter(double(produced), benchmark::Counter::kIsRate);
}

// The dither loop against its plain per-sample formulation, in samples per second.
void BM_Dither(benchmark::State& state) {
    auto x = signal(131072);
    DitherEngine engine(DitherType::tpdf, 16, 0);
    for (auto _ : state) {
        engine.process(x);
        benchmark::DoNotOptimize(x.data());
    }
    state.counters["samples_per_s"] = benchmark::Counter(
        double(state.iterations()) * double(x.size()), benchmark::Counter::kIsRate);
}

void BM_Dither_plain(benchmark::State& state) {
    auto x = signal(131072);
    uint64_t s = ditherSeed(0);
    for (auto _ : state) {
        for (double& v : x)
            v = dither_detail::tpdfSampleReference(v, 32768.0, s);
        benchmark::DoNotOptimize(x.data());
    }
    state.counters["samples_per_s"] = benchmark::Counter(
        double(state.iterations()) * double(x.size()), benchmark::Counter::kIsRate);
}

} // namespace

// Each pair's three measurements run back to back, so that a change of clock speed on a
// shared machine touches all three alike.
int main(int argc, char** argv) {
    const int64_t pairs[][2] = {{96000, 44100},  {44100, 48000},  {48000, 44100},  {44100, 96000},
                                {44100, 176400}, {44100, 192000}, {44100, 352800}, {44100, 384000},
                                {192000, 44100}, {192000, 48000}};
    for (const auto& p : pairs) {
        benchmark::RegisterBenchmark("BM_SontevaSRC", BM_SontevaSRC)
            ->Args({p[0], p[1]})
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_SoxrVHQ", BM_SoxrVHQ)
            ->Args({p[0], p[1]})
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_SontevaSRC_plain", BM_SontevaSRC_plain)
            ->Args({p[0], p[1]})
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("BM_Dither", BM_Dither)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_Dither_plain", BM_Dither_plain)->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
