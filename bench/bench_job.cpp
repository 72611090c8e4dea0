// A whole job end to end, as a user runs it: the sonteva command line against SoX's
// command line on the same 5-minute 96 kHz / 24-bit stereo master, where its time goes
// (each stage of the job run alone), and the peak memory of sonteva on a 2-minute and a
// 20-minute master.
#include "audio_io/audio_io.h"
#include "audio_io/dither.h"
#include "audio_io/level_meter.h"
#include "dsp/inhouse_engines.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <soxr.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

fs::path workDir() {
    const char* base = std::getenv("TMPDIR");
    fs::path dir = fs::path(base && *base ? base : "/tmp") / "sonteva-bench";
    fs::create_directories(dir);
    return dir;
}

// A 24-bit WAV of `seconds` at `rate`, written once and reused by later runs: `frame`
// gives the values of frame n (a value per channel, full scale 1).
std::string cachedWav(const std::string& name, int rate, int channels, int seconds,
                      const std::function<void(int64_t, double*)>& frame) {
    const fs::path path = workDir() / name;
    if (fs::exists(path)) return path.string();
    const fs::path part = path.string() + ".part";
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* f = sf_open(part.c_str(), SFM_WRITE, &info);
    std::vector<int> block(size_t(channels) * size_t(rate));
    std::vector<double> v(static_cast<size_t>(channels));
    int64_t n = 0;
    for (int s = 0; s < seconds; ++s) {
        for (size_t i = 0; i < size_t(rate); ++i, ++n) {
            frame(n, v.data());
            for (int c = 0; c < channels; ++c)
                block[i * size_t(channels) + size_t(c)] = int(std::lround(v[size_t(c)] * 8388607))
                                                          << 8;
        }
        sf_writef_int(f, block.data(), rate);
    }
    sf_close(f);
    fs::rename(part, path);
    return path.string();
}

constexpr double kTwoPi = 6.283185307179586;

// A 96 kHz / 24-bit stereo master of the given length: two tones and a little noise.
std::string master(int minutes) {
    uint64_t noise = 88172645463325252ull;
    return cachedWav("master-" + std::to_string(minutes) + "min.wav", 96000, 2, minutes * 60,
                     [&](int64_t n, double* v) {
                         noise ^= noise << 13, noise ^= noise >> 7, noise ^= noise << 17;
                         const double t = double(n) / 96000;
                         const double x = 0.5 * std::sin(kTwoPi * 440.0 * t) +
                                          0.2 * std::sin(kTwoPi * 9000.0 * t) +
                                          0.1 * (double(noise >> 11) * 0x1p-53 - 0.5);
                         v[0] = x;
                         v[1] = -x;
                     });
}

// A 2-minute 48 kHz / 24-bit stereo file: a tone throughout, or 2 s of the tone and then
// digital silence.
std::string twoMinutes(bool silent) {
    return cachedWav(
        silent ? "silence-2min.wav" : "tone-2min.wav", 48000, 2, 120, [&](int64_t n, double* v) {
            const double t = double(n) / 48000;
            v[0] = v[1] = silent && n >= 2 * 48000 ? 0.0 : 0.5 * std::sin(kTwoPi * 997 * t);
        });
}

// Eight 2-minute 96 kHz / 24-bit mono files of different content.
std::vector<std::string> monoFiles() {
    std::vector<std::string> paths;
    for (int k = 0; k < 8; ++k)
        paths.push_back(cachedWav("mono-2min-" + std::to_string(k) + ".wav", 96000, 1, 120,
                                  [&](int64_t n, double* v) {
                                      const double t = double(n) / 96000;
                                      v[0] = 0.5 * std::sin(kTwoPi * (220.0 + 55 * k) * t) +
                                             0.2 * std::sin(kTwoPi * 7000.0 * t);
                                  }));
    return paths;
}

struct ChildRun {
    double seconds = 0;
    double cpuSeconds = 0; // user and system time of the child
    long maxRssKiB = 0;
    int status = -1;
};

ChildRun runChild(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    ChildRun run;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.maxRssKiB = usage.ru_maxrss;
        const auto secs = [](const timeval& t) {
            return double(t.tv_sec) + 1e-6 * double(t.tv_usec);
        };
        run.cpuSeconds = secs(usage.ru_utime) + secs(usage.ru_stime);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

void report(benchmark::State& state, const ChildRun& run) {
    if (run.status != 0) state.SkipWithError("the child process failed");
    state.SetIterationTime(run.seconds);
    state.counters["peak_MiB"] = double(run.maxRssKiB) / 1024.0;
}

// Each iteration runs both command lines back to back, so that a change of clock speed
// on a shared machine touches both alike; the counters give each one's mean wall time
// (`a`_s, `b`_s) and the ratio of the second to the first (`ratio`).
void alternate(benchmark::State& state, const std::vector<std::string>& first,
               const std::vector<std::string>& second, const char* a, const char* b,
               const char* ratio) {
    double ta = 0, tb = 0;
    for (auto _ : state) {
        const ChildRun x = runChild(first), y = runChild(second);
        if (x.status != 0 || y.status != 0) state.SkipWithError("a child process failed");
        ta += x.seconds;
        tb += y.seconds;
        state.SetIterationTime(x.seconds + y.seconds);
    }
    const double n = double(state.iterations());
    state.counters[std::string(a) + "_s"] = ta / n;
    state.counters[std::string(b) + "_s"] = tb / n;
    state.counters[ratio] = tb / ta;
}

void BM_Job5min_SontevaVsSoX(benchmark::State& state) {
    const std::string in = master(5);
    const std::string out = (workDir() / "out").string();
    fs::create_directories(out);
    alternate(
        state,
        {SONTEVA_CLI, "convert", "-q", "-r", "44100", "-b", "16", "-a", "Sonteva SRC", "-d", "TPDF",
         "-o", out, in},
        {"/usr/bin/sox", in, "-b", "16", out + "/sox-44k-16b.wav", "rate", "-v", "44100", "dither"},
        "sonteva", "sox", "sox_over_sonteva");
}

// Digital silence must cost what music costs: the same job (48 kHz to 48 kHz, 24-bit, so
// that metering is most of the work) on a file that is mostly silence and on a tone of the
// same length, back to back in each iteration.
void BM_Job2min_SilenceVsTone(benchmark::State& state) {
    const std::string silence = twoMinutes(true), tone = twoMinutes(false);
    const std::string out = (workDir() / "out").string();
    fs::create_directories(out);
    const auto job = [&](const std::string& in) {
        return std::vector<std::string>{SONTEVA_CLI, "convert", "-q",   "-r", "48000", "-b",
                                        "24",        "-d",      "None", "-o", out,     in};
    };
    alternate(state, job(tone), job(silence), "tone", "silence", "silence_over_tone");
}

// Eight mono files, two at a time against one at a time, back to back in each iteration:
// the speed-up, how many cores each keeps busy (CPU time over wall time) and the peak
// memory of each, which two at a time may at most double.
void BM_Jobs8Mono_TwoVsOne(benchmark::State& state) {
    const std::vector<std::string> files = monoFiles();
    const std::string out = (workDir() / "out").string();
    fs::create_directories(out);
    double wall[2] = {}, cpu[2] = {};
    long peak[2] = {};
    for (auto _ : state) {
        for (int jobs = 1; jobs <= 2; ++jobs) {
            std::vector<std::string> argv{SONTEVA_CLI,          "convert", "-q", "--jobs",
                                          std::to_string(jobs), "-o",      out};
            argv.insert(argv.end(), files.begin(), files.end());
            const ChildRun run = runChild(argv);
            if (run.status != 0) state.SkipWithError("the child process failed");
            wall[jobs - 1] += run.seconds;
            cpu[jobs - 1] += run.cpuSeconds;
            peak[jobs - 1] = std::max(peak[jobs - 1], run.maxRssKiB);
        }
        state.SetIterationTime(wall[0] + wall[1]);
    }
    const double n = double(state.iterations());
    state.counters["one_s"] = wall[0] / n;
    state.counters["two_s"] = wall[1] / n;
    state.counters["speedup"] = wall[0] / wall[1];
    state.counters["cores_busy_one"] = cpu[0] / wall[0];
    state.counters["cores_busy_two"] = cpu[1] / wall[1];
    state.counters["peak_MiB_one"] = double(peak[0]) / 1024.0;
    state.counters["peak_MiB_two"] = double(peak[1]) / 1024.0;
}

void BM_JobMemory_Sonteva(benchmark::State& state) {
    const std::string in = master(int(state.range(0)));
    const std::string out = (workDir() / "out").string();
    fs::create_directories(out);
    for (auto _ : state)
        report(state, runChild({SONTEVA_CLI, "convert", "-q", "-o", out, in}));
}

// libsoxr called directly on the same file: 262 144-frame reads, one VHQ resampler per
// channel run one after the other, 24-bit output through libsndfile.
double directSoxr(const std::string& in, const std::string& out) {
    const auto start = std::chrono::steady_clock::now();
    SF_INFO info{};
    SNDFILE* src = sf_open(in.c_str(), SFM_READ, &info);
    SF_INFO outInfo{};
    outInfo.samplerate = 44100;
    outInfo.channels = info.channels;
    outInfo.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* dst = sf_open(out.c_str(), SFM_WRITE, &outInfo);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_VHQ, 0);
    std::vector<soxr_t> engines;
    for (int c = 0; c < info.channels; ++c)
        engines.push_back(soxr_create(info.samplerate, 44100, 1, nullptr, &io, &q, nullptr));
    const size_t block = 262144, chans = size_t(info.channels);
    std::vector<double> frames(block * chans), planar(block), converted(block), interleaved;
    for (bool last = false; !last;) {
        const size_t n = size_t(sf_readf_double(src, frames.data(), sf_count_t(block)));
        last = n < block;
        size_t produced = 0;
        for (size_t c = 0; c < chans; ++c) {
            for (size_t i = 0; i < n; ++i)
                planar[i] = frames[i * chans + c];
            size_t idone = 0, odone = 0;
            soxr_process(engines[c], last && n == 0 ? nullptr : planar.data(), n, &idone,
                         converted.data(), converted.size(), &odone);
            if (c == 0) interleaved.assign(odone * chans, 0.0);
            for (size_t i = 0; i < odone; ++i)
                interleaved[i * chans + c] = converted[i];
            produced = odone;
        }
        sf_writef_double(dst, interleaved.data(), sf_count_t(produced));
    }
    for (soxr_t e : engines)
        soxr_delete(e);
    sf_close(dst);
    sf_close(src);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A "SoX VHQ" job through the whole batch (the command line, both channels in parallel)
// against libsoxr driven directly, back to back in each iteration.
void BM_SoxVHQJob_VsDirect(benchmark::State& state) {
    const std::string in = master(5);
    const std::string out = (workDir() / "out").string();
    fs::create_directories(out);
    double job = 0, direct = 0;
    for (auto _ : state) {
        const ChildRun a = runChild({SONTEVA_CLI, "convert", "-q", "-r", "44100", "-b", "24", "-a",
                                     "SoX VHQ", "-d", "None", "-o", out, in});
        if (a.status != 0) state.SkipWithError("the job failed");
        job += a.seconds;
        direct += directSoxr(in, out + "/direct-soxr.wav");
        state.SetIterationTime(a.seconds);
    }
    state.counters["job_s"] = job / double(state.iterations());
    state.counters["direct_s"] = direct / double(state.iterations());
    state.counters["job_over_direct"] = job / direct;
}

// CPU time of the calling thread: unlike wall time, it does not count the time other
// work on a shared machine takes the core away.
struct ThreadClock {
    using time_point = double;
    static double now() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
    }
};

// The flagship job's stages one after the other on one thread, each timed on its own (in
// CPU seconds): reading and converting to float, resampling, metering, dithering,
// writing. The split shows where the command line's time goes (which runs them on every
// core at once).
void BM_Job5min_Stages(benchmark::State& state) {
    using Clock = ThreadClock;
    const std::string in = master(5);
    const std::string out = (workDir() / "out" / "stages.wav").string();
    fs::create_directories(workDir() / "out");
    double read = 0, resample = 0, meter = 0, dither = 0, write = 0;
    for (auto _ : state) {
        sonteva::AudioStreamReader reader(in);
        const int channels = reader.channels();
        std::vector<std::unique_ptr<sonteva::SRCEngine64>> engines;
        std::vector<sonteva::DitherEngine> ditherers;
        for (int c = 0; c < channels; ++c) {
            engines.push_back(sonteva::SontevaSRC::makeEngine(96000, 44100));
            ditherers.emplace_back(sonteva::DitherType::tpdf, 16, c);
        }
        sonteva::LevelMeter levels(channels, 44100, 16);
        sonteva::AudioStreamWriter writer(out, 44100, channels, sonteva::AudioFormat::wav,
                                          sonteva::BitDepth::int16);
        sonteva::ChannelBuffers block, converted(static_cast<size_t>(channels));
        const auto lap = [](double& since, double& into) {
            const double now = Clock::now();
            into += now - since;
            since = now;
        };
        for (bool more = true; more;) {
            auto at = Clock::now();
            more = reader.read(262144, block);
            lap(at, read);
            for (int c = 0; c < channels; ++c) {
                const auto i = size_t(c);
                converted[i] = more ? engines[i]->processBlock(block[i]) : engines[i]->flush();
            }
            lap(at, resample);
            for (int c = 0; c < channels; ++c)
                levels.channel(c).measure(converted[size_t(c)]);
            levels.collect();
            lap(at, meter);
            for (int c = 0; c < channels; ++c)
                ditherers[size_t(c)].process(converted[size_t(c)]);
            lap(at, dither);
            writer.write(converted);
            lap(at, write);
        }
        auto at = Clock::now();
        writer.close();
        benchmark::DoNotOptimize(levels.result());
        lap(at, write);
    }
    const double n = double(state.iterations());
    state.counters["read_s"] = read / n;
    state.counters["resample_s"] = resample / n;
    state.counters["meter_s"] = meter / n;
    state.counters["dither_s"] = dither / n;
    state.counters["write_s"] = write / n;
    state.counters["all_s"] = (read + resample + meter + dither + write) / n;
}

} // namespace

BENCHMARK(BM_Job5min_Stages)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_SoxVHQJob_VsDirect)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_Job5min_SontevaVsSoX)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(5);
BENCHMARK(BM_Job2min_SilenceVsTone)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(5);
BENCHMARK(BM_Jobs8Mono_TwoVsOne)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_JobMemory_Sonteva)
    ->Arg(2)
    ->Arg(20)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

BENCHMARK_MAIN();
