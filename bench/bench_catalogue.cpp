// A catalogue through a cluster engine against one process: the 24-master catalogue of the
// Slurm test (mixed rates and recipes) through the array script on a private single-node
// Slurm cluster (4 tasks), and through one `sonteva convert --manifest` process, in the
// same run, one job at a time and two at once. The first argument scales the masters'
// length (1: about half a second each).
#include "cli/catalogue_support.h"
#include "cli/slurm_cluster.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <chrono>
#include <filesystem>
#include <memory>

using namespace sonteva::test;
namespace fs = std::filesystem;

namespace {

// Started in main, once, and stopped before the application object goes.
SlurmCluster* theCluster = nullptr;

SlurmCluster& cluster() {
    return *theCluster;
}

// The catalogue for a scale, written once per run.
const std::string& manifestFor(int scale) {
    static std::map<int, std::string> manifests;
    auto& m = manifests[scale];
    if (m.empty()) {
        const std::string root = cluster().folder() + "/bench-" + std::to_string(scale);
        m = makeCatalogue(root, 24, 0, scale).manifest("deliver");
    }
    return m;
}

void emptyDelivery(const std::string& manifest) {
    const fs::path deliver = fs::path(manifest).parent_path() / "deliver";
    for (const auto& folder : fs::directory_iterator(deliver))
        for (const auto& file : fs::directory_iterator(folder))
            fs::remove(file.path());
    fs::remove_all(fs::path(manifest).parent_path() / "reports");
}

void SlurmArrayOf4(benchmark::State& state) {
    if (!cluster().skipReason().empty()) {
        state.SkipWithError(cluster().skipReason().c_str());
        return;
    }
    const std::string& manifest = manifestFor(static_cast<int>(state.range(0)));
    cluster().setEnv("SONTEVA", SONTEVA_CLI);
    for (auto _ : state) {
        state.PauseTiming();
        emptyDelivery(manifest);
        state.ResumeTiming();
        std::string error;
        const auto job = cluster().submitArray(
            {"--array=0-3",
             QString::fromStdString("--output=" + cluster().folder() + "/log/%A_%a.out"),
             SONTEVA_SOURCE_DIR "/contrib/slurm/sonteva-array.sbatch",
             QString::fromStdString(manifest),
             QString::fromStdString(fs::path(manifest).parent_path() / "reports"), "-q"},
            &error);
        if (!job || !cluster().waitFinished(*job)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
}

void OneProcess(benchmark::State& state) {
    if (!cluster().skipReason().empty()) {
        state.SkipWithError(cluster().skipReason().c_str());
        return;
    }
    const std::string& manifest = manifestFor(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        emptyDelivery(manifest);
        state.ResumeTiming();
        QProcess p;
        p.start(SONTEVA_CLI, {"convert", "-q", "--jobs", QString::number(state.range(1)),
                              "--manifest", QString::fromStdString(manifest)});
        if (!p.waitForFinished(600000) || p.exitCode() != 0) {
            state.SkipWithError("sonteva convert failed");
            return;
        }
    }
}

} // namespace

BENCHMARK(SlurmArrayOf4)->Arg(1)->Arg(20)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);
// One process, one job at a time and one per core (--jobs 2 on this machine).
BENCHMARK(OneProcess)
    ->ArgsProduct({{1, 20}, {1, 2}})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(3);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    {
        SlurmCluster cluster;
        theCluster = &cluster;
        benchmark::RunSpecifiedBenchmarks();
        theCluster = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
