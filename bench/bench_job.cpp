// A whole job end to end, as a user runs it: the sonteva command line against SoX's
// command line on the same 5-minute 96 kHz / 24-bit stereo master, and the peak memory
// of sonteva on a 2-minute and a 20-minute master.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
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

// A master of the given length, written once and reused by later runs.
std::string master(int minutes) {
    const fs::path path = workDir() / ("master-" + std::to_string(minutes) + "min.wav");
    if (fs::exists(path)) return path.string();
    const fs::path part = path.string() + ".part";
    SF_INFO info{};
    info.samplerate = 96000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* f = sf_open(part.c_str(), SFM_WRITE, &info);
    std::vector<int> block(2 * 96000);
    uint64_t noise = 88172645463325252ull;
    int64_t n = 0;
    for (int s = 0; s < minutes * 60; ++s) {
        for (size_t i = 0; i < 96000; ++i, ++n) {
            noise ^= noise << 13, noise ^= noise >> 7, noise ^= noise << 17;
            const double t = double(n) / 96000;
            const double v = 0.5 * std::sin(6.283185307179586 * 440.0 * t) +
                             0.2 * std::sin(6.283185307179586 * 9000.0 * t) +
                             0.1 * (double(noise >> 11) * 0x1p-53 - 0.5);
            block[2 * i] = int(std::lround(v * 8388607)) << 8;
            block[2 * i + 1] = int(std::lround(-v * 8388607)) << 8;
        }
        sf_writef_int(f, block.data(), 96000);
    }
    sf_close(f);
    fs::rename(part, path);
    return path.string();
}

struct ChildRun {
    double seconds = 0;
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

void BM_Job5min_Sonteva(benchmark::State& state) {
    const std::string in = master(5);
    const std::string out = (workDir() / "out").string();
    fs::create_directories(out);
    for (auto _ : state)
        report(state, runChild({SONTEVA_CLI, "convert", "-q", "-r", "44100", "-b", "16", "-a",
                                "Sonteva SRC", "-d", "TPDF", "-o", out, in}));
}

void BM_Job5min_SoX(benchmark::State& state) {
    const std::string in = master(5);
    const std::string out = (workDir() / "out" / "sox-44k-16b.wav").string();
    for (auto _ : state)
        report(state,
               runChild({"/usr/bin/sox", in, "-b", "16", out, "rate", "-v", "44100", "dither"}));
}

void BM_JobMemory_Sonteva(benchmark::State& state) {
    const std::string in = master(int(state.range(0)));
    const std::string out = (workDir() / "out").string();
    fs::create_directories(out);
    for (auto _ : state)
        report(state, runChild({SONTEVA_CLI, "convert", "-q", "-o", out, in}));
}

} // namespace

BENCHMARK(BM_Job5min_Sonteva)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_Job5min_SoX)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_JobMemory_Sonteva)
    ->Arg(2)
    ->Arg(20)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

BENCHMARK_MAIN();
