// Audition speed on each output there is: the virtual one (the transport's own figures) and
// a private PulseAudio and a private PipeWire started for the run (skipped, with the reason,
// where they cannot start). Measured: from play to the first buffer handed to the output
// and to the first buffer played, cold (a new player: the output opens and the engines are
// built at play, with the costliest design of the offered pairs) and prewarmed (the job's
// source and engines built ahead, the output already open from an earlier audition), and
// the render loop's share of one core while a stereo job plays in real time. The run ends
// with each server's figures set against PulseAudio's of the same run.
#include "model/recipe.h"
#include "preview/preview_player.h"
#include "preview/pulse_output.h"
#include "preview/virtual_output.h"
#include "support/sound_servers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QUuid>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace sonteva;
namespace fs = std::filesystem;

namespace {

// The engine whose design is the costliest of the offered pairs.
const QString kCostliestPair = QStringLiteral("Zavir Iravizeza");

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

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Passes everything to the output it wraps and notes when the first buffer after arm()
// was handed over and when it had been played.
class TimedOutput final : public AudioOutput {
public:
    explicit TimedOutput(std::shared_ptr<AudioOutput> inner) : inner_(std::move(inner)) {}
    void arm() {
        scheduledAt_ = 0;
        playedAt_ = 0;
        armed_ = true;
    }
    int64_t scheduledAt() const { return scheduledAt_; }
    int64_t playedAt() const { return playedAt_; }

    void scheduleBuffer(std::vector<std::vector<float>> channels, Completion onPlayed) override {
        if (armed_.exchange(false)) {
            scheduledAt_ = nowNs();
            onPlayed = [this, done = std::move(onPlayed)] {
                playedAt_ = nowNs();
                if (done) done();
            };
        }
        inner_->scheduleBuffer(std::move(channels), std::move(onPlayed));
    }
    void connect(double rate, int channels) override { inner_->connect(rate, channels); }
    void setCurrentDevice(std::optional<uint32_t> id) override { inner_->setCurrentDevice(id); }
    bool startEngine() override { return inner_->startEngine(); }
    std::string errorText() const override { return inner_->errorText(); }
    void stopEngine() override { inner_->stopEngine(); }
    bool isEngineRunning() const override { return inner_->isEngineRunning(); }
    void setMainMixerVolume(float volume) override { inner_->setMainMixerVolume(volume); }
    void endOfStream() override { inner_->endOfStream(); }
    void play() override { inner_->play(); }
    void pause() override { inner_->pause(); }
    void stop() override { inner_->stop(); }
    bool isPlayerPlaying() const override { return inner_->isPlayerPlaying(); }
    void setLossListener(LossListener listener) override {
        inner_->setLossListener(std::move(listener));
    }

private:
    std::shared_ptr<AudioOutput> inner_;
    std::atomic<bool> armed_{false};
    std::atomic<int64_t> scheduledAt_{0};
    std::atomic<int64_t> playedAt_{0};
};

// The sound server the benchmarks of one output run on: started at the first of them,
// stopped when another output's begin, or at the end of the run.
class ServerForOutput {
public:
    ~ServerForOutput() { stop(); }
    // Whether the output can be measured; `why` says why not.
    bool ensure(const std::string& output, std::string& why) {
        if (output != active_) {
            stop();
            active_ = output;
            if (output == test::PulseServer::kName) start(pulse_.emplace());
            if (output == test::PipeWireServer::kName) start(pipeWire_.emplace());
        }
        why = reason_;
        return reason_.empty();
    }
    void stop() {
        if (pulse_) pulse_->stop();
        if (pipeWire_) pipeWire_->stop();
        pulse_.reset();
        pipeWire_.reset();
        reason_.clear();
        active_.clear();
    }

private:
    template <class Server> void start(Server& server) {
        if (!server.start()) reason_ = std::string(Server::kName) + ": " + server.skipReason;
    }
    std::string active_;
    std::string reason_;
    std::optional<test::PulseServer> pulse_;
    std::optional<test::PipeWireServer> pipeWire_;
};

ServerForOutput servers;

// False (and the benchmark skipped with the reason) where the output's server cannot start.
bool serverReady(benchmark::State& state, const std::string& output) {
    std::string why;
    if (servers.ensure(output, why)) return true;
    state.SkipWithError(why.c_str());
    for (auto _ : state) {
    }
    return false;
}

struct Rig {
    std::shared_ptr<TimedOutput> output;
    std::unique_ptr<PreviewPlayer> player;
};

Rig makeRig(bool onServer) {
    Rig rig;
    std::shared_ptr<AudioOutput> inner;
    if (onServer)
        inner = std::make_shared<PulseOutput>();
    else
        inner = std::make_shared<VirtualOutput>(VirtualOutput::Clock::realTime);
    rig.output = std::make_shared<TimedOutput>(inner);
    rig.player = std::make_unique<PreviewPlayer>(rig.output);
    return rig;
}

// Lets the event loop run until `done` holds or the time is up.
bool runUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return done();
}

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

// Each output's figures, for the closing comparison: output -> figure -> value.
std::map<std::string, std::map<std::string, double>> figures;

struct FirstBuffer {
    double scheduledMs = 0;
    double playedMs = 0;
};

// From play() until the first buffer is handed to the output and until it has been played.
FirstBuffer playToFirstBuffer(Rig& rig, const ConversionJob& j, benchmark::State& state) {
    rig.output->arm();
    const int64_t start = nowNs();
    rig.player->play(j, StartPosition::time(30.0));
    if (!runUntil([&] { return rig.output->playedAt() != 0; }, 5000))
        state.SkipWithError("the first buffer was never played");
    const FirstBuffer times{double(rig.output->scheduledAt() - start) * 1e-6,
                            double(rig.output->playedAt() - start) * 1e-6};
    rig.player->stopTransport(true);
    return times;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Medians: a shared machine stalls now and then, and one stall would move a mean.
void report(benchmark::State& state, const std::string& output, const std::string& name,
            const std::vector<double>& scheduled, const std::vector<double>& played) {
    state.counters["first_buffer_ms"] = median(scheduled);
    state.counters["first_played_ms"] = median(played);
    figures[output][name + ", first buffer (ms)"] = median(scheduled);
    figures[output][name + ", first buffer played (ms)"] = median(played);
}

void playToFirstBufferCold(benchmark::State& state, std::string output, bool onServer) {
    if (!serverReady(state, output)) return;
    const std::string path = sourceFile(96000, 60);
    std::vector<double> scheduled, played;
    for (auto _ : state) {
        Rig rig = makeRig(onServer);
        const FirstBuffer t =
            playToFirstBuffer(rig, job(path, 96000, 44100, kCostliestPair), state);
        state.SetIterationTime(t.scheduledMs / 1000.0);
        scheduled.push_back(t.scheduledMs);
        played.push_back(t.playedMs);
    }
    report(state, output, "play, cold", scheduled, played);
}

void playToFirstBufferPrewarmed(benchmark::State& state, std::string output, bool onServer) {
    if (!serverReady(state, output)) return;
    const std::string path = sourceFile(96000, 60);
    Rig rig = makeRig(onServer);
    playToFirstBuffer(rig, job(path, 96000, 44100, kCostliestPair), state); // opens the output
    std::vector<double> scheduled, played;
    for (auto _ : state) {
        const ConversionJob j = job(path, 96000, 44100, kCostliestPair);
        bool built = false;
        auto c = QObject::connect(rig.player.get(), &PreviewPlayer::prewarmFinished,
                                  [&] { built = true; });
        rig.player->prewarm(j);
        runUntil([&] { return built; }, 10000);
        QObject::disconnect(c);
        const FirstBuffer t = playToFirstBuffer(rig, j, state);
        state.SetIterationTime(t.scheduledMs / 1000.0);
        scheduled.push_back(t.scheduledMs);
        played.push_back(t.playedMs);
    }
    report(state, output, "play, prewarmed", scheduled, played);
}

// A 96 kHz source auditioned at 48 kHz in real time for three seconds: the process's CPU
// time over the wall time (the main thread only waits for events meanwhile; the server's
// own work is in its own process).
void renderLoopCpu(benchmark::State& state, std::string output, bool onServer) {
    if (!serverReady(state, output)) return;
    const std::string path = sourceFile(96000, 60);
    Rig rig = makeRig(onServer);
    double share = 0;
    for (auto _ : state) {
        rig.player->play(job(path, 96000, 48000, kSontevaSRC), StartPosition::time(1.0));
        waitFor(300);
        const double cpu0 = processCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        waitFor(3000);
        share = (processCpuSeconds() - cpu0) / (double(clock.nsecsElapsed()) * 1e-9);
        if (!rig.player->isPlaying()) state.SkipWithError("the audition stopped");
        rig.player->stopTransport(true);
        state.SetIterationTime(3.0);
    }
    state.counters["core_share_percent"] = share * 100.0;
    figures[output]["render loop, share of a core (%)"] = share * 100.0;
}

void registerFor(const std::string& output, bool onServer) {
    benchmark::RegisterBenchmark(("PlayToFirstBuffer_Cold_Swiss96to44/" + output).c_str(),
                                 playToFirstBufferCold, output, onServer)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(9);
    benchmark::RegisterBenchmark(("PlayToFirstBuffer_Prewarmed/" + output).c_str(),
                                 playToFirstBufferPrewarmed, output, onServer)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(9);
    benchmark::RegisterBenchmark(("RenderLoopCpu_Sonteva48kStereo/" + output).c_str(),
                                 renderLoopCpu, output, onServer)
        ->UseManualTime()
        ->Unit(benchmark::kSecond)
        ->Iterations(1);
}

// Every figure of each server against PulseAudio's (below 1: less time or less work).
void printComparison() {
    const auto pulse = figures.find(test::PulseServer::kName);
    if (pulse == figures.end()) return;
    std::printf("\nAgainst PulseAudio in this run:\n");
    for (const auto& [output, values] : figures) {
        if (output == pulse->first) continue;
        for (const auto& [name, value] : values) {
            const auto base = pulse->second.find(name);
            if (base == pulse->second.end() || base->second <= 0) continue;
            std::printf("  %-9s %-40s %8.2f vs %8.2f  ratio %.2f\n", output.c_str(), name.c_str(),
                        value, base->second, value / base->second);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    registerFor("Virtual", false);
    registerFor(test::PulseServer::kName, true);
    registerFor(test::PipeWireServer::kName, true);
    benchmark::RunSpecifiedBenchmarks();
    servers.stop();
    printComparison();
    benchmark::Shutdown();
    return 0;
}
