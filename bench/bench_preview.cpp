// Audition speed: from play to the first buffer scheduled (prewarmed, and cold with the
// costliest design of the offered pairs), and the render loop's share of one core while a
// stereo job plays in real time. The output is the virtual one, so the figures are the
// transport's own, without a sound server.
#include "model/recipe.h"
#include "preview/preview_player.h"
#include "preview/virtual_output.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QUuid>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <vector>

using namespace sonteva;
namespace fs = std::filesystem;

namespace {

std::string sourceFile(int rate, int seconds) {
    const fs::path path =
        fs::temp_directory_path() / ("sonteva-bench-preview-" + std::to_string(rate) + ".wav");
    if (fs::exists(path)) return path.string();
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<double> frames(size_t(rate) * 2);
    for (int s = 0; s < seconds; ++s) {
        for (int i = 0; i < rate; ++i)
            frames[2 * i] = frames[2 * i + 1] = 0.5 * std::sin(0.05 * (double(s) * rate + i));
        sf_writef_double(f, frames.data(), rate);
    }
    sf_close(f);
    return path.string();
}

ConversionJob job(const std::string& path, int rate, int targetFs, const QString& quality) {
    ConversionJob j;
    j.id = QUuid::createUuid();
    j.inputFile.url = QUrl::fromLocalFile(QString::fromStdString(path));
    j.inputFile.sampleRate = rate;
    j.targetFs = targetFs;
    j.quality = quality;
    j.dither = "None";
    return j;
}

// Milliseconds from play() until the transport has handed its first buffer to the output.
double playToFirstBuffer(PreviewPlayer& player, VirtualOutput& out, const ConversionJob& j) {
    const size_t before = out.scheduledBuffers();
    QElapsedTimer clock;
    clock.start();
    player.play(j, StartPosition::time(30.0));
    while (out.scheduledBuffers() == before && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const double ms = double(clock.nsecsElapsed()) * 1e-6;
    player.stopTransport(true);
    return ms;
}

void BM_PlayToFirstBuffer_Cold_Swiss96to44(benchmark::State& state) {
    const std::string path = sourceFile(96000, 60);
    auto out = std::make_shared<VirtualOutput>(VirtualOutput::Clock::realTime);
    PreviewPlayer player(out);
    double total = 0;
    for (auto _ : state) {
        const double ms = playToFirstBuffer(player, *out, job(path, 96000, 44100, QStringLiteral("Zavir Iravizeza")));
        state.SetIterationTime(ms / 1000.0);
        total += ms;
    }
    state.counters["ms"] = total / double(state.iterations());
}

void BM_PlayToFirstBuffer_Prewarmed(benchmark::State& state) {
    const std::string path = sourceFile(96000, 60);
    auto out = std::make_shared<VirtualOutput>(VirtualOutput::Clock::realTime);
    PreviewPlayer player(out);
    double total = 0;
    for (auto _ : state) {
        const ConversionJob j = job(path, 96000, 44100, QStringLiteral("Zavir Iravizeza"));
        bool built = false;
        auto c = QObject::connect(&player, &PreviewPlayer::prewarmFinished, [&] { built = true; });
        player.prewarm(j);
        while (!built)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QObject::disconnect(c);
        const double ms = playToFirstBuffer(player, *out, j);
        state.SetIterationTime(ms / 1000.0);
        total += ms;
    }
    state.counters["ms"] = total / double(state.iterations());
}

// Lets the event loop sleep until the time is up.
void waitFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A 96 kHz source auditioned at 48 kHz in real time for three seconds: the process's CPU
// time over the wall time (the main thread only waits for events meanwhile).
void BM_RenderLoopCpu_Sonteva48kStereo(benchmark::State& state) {
    const std::string path = sourceFile(96000, 60);
    auto out = std::make_shared<VirtualOutput>(VirtualOutput::Clock::realTime);
    PreviewPlayer player(out);
    double share = 0;
    for (auto _ : state) {
        player.play(job(path, 96000, 48000, kSontevaSRC), StartPosition::time(1.0));
        waitFor(300);
        const double cpu0 = processCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        waitFor(3000);
        share = (processCpuSeconds() - cpu0) / (double(clock.nsecsElapsed()) * 1e-9);
        player.stopTransport(true);
        state.SetIterationTime(3.0);
    }
    state.counters["core_share_percent"] = share * 100.0;
}

} // namespace

BENCHMARK(BM_PlayToFirstBuffer_Cold_Swiss96to44)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_PlayToFirstBuffer_Prewarmed)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_RenderLoopCpu_Sonteva48kStereo)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
