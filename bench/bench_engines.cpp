// Conversion speed of the flagship engine against libsoxr's very-high-quality recipe
// and against the plain loop, in output samples per second for one channel.
#include "dsp/convolution.h"
#include "dsp/inhouse_engines.h"

#include <benchmark/benchmark.h>
#include <soxr.h>

#include <cmath>
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

void pairs(benchmark::internal::Benchmark* b) {
    b->Args({96000, 44100})
        ->Args({44100, 48000})
        ->Args({48000, 44100})
        ->Args({44100, 96000})
        ->Args({44100, 192000});
    b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_SontevaSRC)->Apply(pairs);
BENCHMARK(BM_SoxrVHQ)->Apply(pairs);
BENCHMARK(BM_SontevaSRC_plain)->Apply(pairs);

BENCHMARK_MAIN();
