// The catalogue workflow on a real (private, single-node) Slurm cluster: the array script
// of contrib/slurm over a 24-master catalogue with mixed recipes, one task killed outright
// in the middle of a job (SIGKILL, leaving its temporary file), the array run again, and
// the reports merged. The delivery must hold every deliverable once, byte for byte what a
// local run writes, and nothing else.
#include "catalogue_support.h"
#include "cli_support.h"
#include "slurm_cluster.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace sonteva::test;
namespace fs = std::filesystem;

namespace {

// The process that has `folder`/<name> open, for a name ending in ".part"; 0 if none.
pid_t writerIn(const std::string& folder) {
    for (const auto& proc : fs::directory_iterator("/proc")) {
        const std::string pid = proc.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code error;
        for (const auto& fd : fs::directory_iterator(proc.path() / "fd", error)) {
            const std::string target = fs::read_symlink(fd.path(), error).string();
            if (!error && target.starts_with(folder + "/.") && target.ends_with(".part"))
                return static_cast<pid_t>(std::stol(pid));
        }
    }
    return 0;
}

std::vector<std::string> partFiles(const std::string& folder) {
    std::vector<std::string> parts;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.path().extension() == ".part") parts.push_back(e.path().string());
    return parts;
}

} // namespace

TEST(Slurm, ArrayDeliversAKilledAndResumedCatalogue) {
    SlurmCluster cluster;
    if (!cluster.skipReason().empty()) GTEST_SKIP() << cluster.skipReason();
    const std::string root = cluster.folder() + "/jobs";
    const Catalogue catalogue = makeCatalogue(root, 24, 40.0);
    const std::string manifest = catalogue.manifest("deliver");

    // The reference: the same jobs on this machine, one process, one job at a time.
    const CliRun local = runCli({"convert", "-q", "--manifest", q(catalogue.manifest("local"))});
    ASSERT_EQ(local.status, 0) << local.err.toStdString();
    const auto reference = deliveredFiles(root + "/local");
    ASSERT_EQ(reference.size(), 24u);

    cluster.setEnv("SONTEVA", SONTEVA_CLI);
    cluster.setEnv("XDG_CONFIG_HOME", q(cluster.folder() + "/config"));
    const QStringList submit = {"--array=0-3",
                                q("--output=" + cluster.folder() + "/log/task-%A_%a.out"),
                                SONTEVA_SOURCE_DIR "/contrib/slurm/sonteva-array.sbatch",
                                q(manifest), q(root + "/reports")};

    // Round 1: task 0 starts with the long master; it is frozen while that output is being
    // written and killed outright, which leaves its temporary file behind.
    const std::string longFolder = root + "/deliver/long";
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(watch, longFolder.c_str(), IN_CREATE);
    std::string error;
    const auto first = cluster.submitArray(submit, &error);
    ASSERT_TRUE(first) << error;
    const bool writing = cli_detail::awaitPartFile(watch);
    ::close(watch);
    ASSERT_TRUE(writing) << slurp(cluster.folder() + "/log/task-" + *first + "_0.out");
    pid_t victim = 0;
    for (int i = 0; i < 200 && !victim; ++i)
        if (!(victim = writerIn(longFolder)))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GT(victim, 0);
    ::kill(victim, SIGSTOP);
    // Killed the way a node's out-of-memory killer or a lost node kills: no SIGTERM first
    // (a cancelled task would get one, and remove its temporary file itself). The task
    // states below show it was task 0.
    ::kill(victim, SIGKILL);
    ASSERT_TRUE(cluster.waitFinished(*first));
    const auto killed = cluster.taskStates(*first);
    EXPECT_EQ(killed, (std::map<int, std::string>{
                          {0, "FAILED"}, {1, "COMPLETED"}, {2, "COMPLETED"}, {3, "COMPLETED"}}));
    EXPECT_EQ(partFiles(longFolder).size(), 1u);
    EXPECT_EQ(deliveredFiles(root + "/deliver").size(), 18u); // shard 0 delivered nothing

    // Round 2: the same array again finishes shard 0, redoing the interrupted job.
    const auto second = cluster.submitArray(submit, &error);
    ASSERT_TRUE(second) << error;
    ASSERT_TRUE(cluster.waitFinished(*second));
    EXPECT_EQ(cluster.taskStates(*second),
              (std::map<int, std::string>{
                  {0, "COMPLETED"}, {1, "COMPLETED"}, {2, "COMPLETED"}, {3, "COMPLETED"}}))
        << slurp(cluster.folder() + "/log/task-" + *second + "_0.out");
    EXPECT_TRUE(partFiles(root + "/deliver").empty());
    const auto delivered = deliveredFiles(root + "/deliver");
    EXPECT_EQ(delivered.size(), reference.size());
    for (const auto& [name, bytes] : reference) {
        const auto it = delivered.find(name);
        ASSERT_NE(it, delivered.end()) << name;
        EXPECT_TRUE(it->second == bytes) << name << " differs from the local run";
    }
    // One record beside each deliverable, nothing else.
    EXPECT_EQ(deliveredFiles(root + "/deliver", true).size(), 2 * reference.size());

    // The reports: 18 jobs done in round 1 and skipped in round 2, 6 done in round 2.
    QStringList reports;
    for (const auto& e : fs::directory_iterator(root + "/reports"))
        reports << q(e.path().string());
    EXPECT_EQ(reports.size(), 4);
    const CliRun merged = runCli(QStringList{"report", "--json"} + reports);
    EXPECT_EQ(merged.status, 0) << merged.err.toStdString();
    const QJsonObject s = QJsonDocument::fromJson(merged.out.toUtf8()).object();
    EXPECT_EQ(s["jobs"].toInt(), 24);
    EXPECT_EQ(s["done"].toInt(), 24);
    EXPECT_EQ(s["skipped"].toInt(), 0);
    EXPECT_EQ(s["failed"].toInt(), 0);
    EXPECT_EQ(s["records"].toInt(), 18 + 24);
    EXPECT_EQ(s["superseded"].toInt(), 18);
    EXPECT_GT(s["audioHours"].toDouble(), 40.0 / 3600);
    const CliRun text = runCli(QStringList{"report"} + reports);
    EXPECT_TRUE(text.out.contains("Done: 24, skipped: 0, failed: 0.")) << text.out.toStdString();
}
