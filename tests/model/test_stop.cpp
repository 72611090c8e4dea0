// Stopping a batch, the batch's progress in the status line and the texts around it, on an
// executor the test drives by hand: the abandoned job is pending again, reports of the
// stopped render change nothing (unless it had completed after all), and a new run is not
// confused with the stopped one even when it renders the same job.
#include "model/batch_texts.h"
#include "model_support.h"

#include <gtest/gtest.h>

using namespace sonteva;
using namespace sonteva::test;

namespace {

JobOutcome outcome(bool succeeded, bool stopped = false) {
    JobOutcome o;
    o.succeeded = succeeded;
    o.stopped = stopped;
    o.error = succeeded ? QString() : QStringLiteral("Stopped at the user's request");
    o.outputPath = QStringLiteral("/deliveries/x.wav");
    return o;
}

struct Batch : ModelFixture {
    AppViewModel& vm = start();
    std::vector<QUuid> finished;

    explicit Batch(int jobs) {
        addSources(jobs);
        vm.addAllToQueue();
        QObject::connect(&vm, &AppViewModel::jobFinished,
                         [this](const QUuid& id) { finished.push_back(id); });
    }
    std::vector<int> kinds() const {
        std::vector<int> k;
        for (const ConversionJob& j : vm.batchJobs())
            k.push_back(static_cast<int>(j.status.index()));
        return k;
    }
};

using K = std::vector<int>; // 0 pending, 1 processing, 2 done, 3 failed

} // namespace

TEST(Stop, TheJobInProgressIsPendingAgainAndTheSummarySaysSo) {
    Batch b(3);
    b.vm.runBatch();
    b.executor->started[0].finished(outcome(true));
    b.settle();
    ASSERT_EQ(b.executor->started.size(), 2u);
    EXPECT_EQ(b.vm.globalStatus(), "Processing take1.wav... (2 of 3)");
    b.executor->started[1].progress(0.4);
    b.settle();

    b.vm.stopBatch();
    EXPECT_FALSE(b.vm.isBatchProcessing());
    EXPECT_EQ(b.executor->stopped, std::vector<QUuid>{b.vm.batchJobs()[1].id});
    EXPECT_EQ(b.kinds(), (K{2, 0, 0}));
    EXPECT_EQ(b.vm.globalStatus(), "Batch stopped \u2014 1 done, 2 pending.");
    b.vm.stopBatch(); // nothing runs: nothing happens
    EXPECT_EQ(b.executor->stopped.size(), 1u);

    // What the stopped render still reports changes nothing.
    b.executor->started[1].progress(0.8);
    b.executor->started[1].finished(outcome(false, true));
    b.settle();
    EXPECT_EQ(b.kinds(), (K{2, 0, 0}));
    EXPECT_EQ(b.finished.size(), 1u);
    EXPECT_EQ(b.executor->started.size(), 2u) << "no job started behind the user's back";
    EXPECT_EQ(b.vm.globalStatus(), "Batch stopped \u2014 1 done, 2 pending.");

    // Run again: the stopped job is first, then the rest.
    b.vm.runBatch();
    ASSERT_EQ(b.executor->started.size(), 3u);
    EXPECT_EQ(b.executor->started[2].job.id, b.vm.batchJobs()[1].id);
    EXPECT_EQ(b.vm.globalStatus(), "Processing take1.wav... (1 of 2)");
    for (size_t i = 2; i < 4; ++i) {
        b.executor->started[i].finished(outcome(true));
        b.settle();
    }
    EXPECT_EQ(b.kinds(), (K{2, 2, 2}));
    EXPECT_EQ(b.vm.globalStatus(), "Batch completed successfully \u2014 3 files written.");
}

TEST(Stop, AReportOfTheStoppedRenderIsNotTakenForTheNewOne) {
    Batch b(2);
    b.vm.runBatch();
    b.vm.stopBatch();
    b.vm.runBatch(); // at once, before the stopped render has reported
    ASSERT_EQ(b.executor->started.size(), 2u);
    const QUuid first = b.vm.batchJobs()[0].id;
    EXPECT_EQ(b.executor->started[1].job.id, first); // the same job, rendered again

    b.executor->started[0].progress(0.9);
    b.executor->started[0].finished(outcome(false, true));
    b.settle();
    EXPECT_EQ(b.kinds(), (K{1, 0}));
    EXPECT_EQ(std::get<JobProcessing>(b.vm.batchJobs()[0].status).progress, 0.0);
    EXPECT_TRUE(b.vm.isBatchProcessing());
    b.executor->started[1].finished(outcome(true));
    b.settle();
    EXPECT_EQ(b.kinds(), (K{2, 1}));
}

TEST(Stop, ARenderThatCompletedDespiteTheStopCountsAsDone) {
    Batch b(2);
    b.vm.runBatch();
    b.vm.stopBatch();
    b.executor->started[0].finished(outcome(true)); // it was writing its last block
    b.settle();
    EXPECT_EQ(b.kinds(), (K{2, 0}));
    EXPECT_EQ(b.finished.size(), 1u);
    ASSERT_NE(b.vm.outcomeOf(b.vm.batchJobs()[0].id), nullptr);
    EXPECT_EQ(b.vm.globalStatus(), "Batch stopped \u2014 1 done, 1 pending.");
    EXPECT_FALSE(b.vm.isBatchProcessing());
}

TEST(Stop, ARenderStoppedFromElsewhereEndsTheBatch) {
    // The executor was shut down under the batch: the job is not failed, only not done.
    Batch b(2);
    b.vm.runBatch();
    b.executor->started[0].finished(outcome(false, true));
    b.settle();
    EXPECT_EQ(b.kinds(), (K{0, 0}));
    EXPECT_FALSE(b.vm.isBatchProcessing());
    EXPECT_EQ(b.vm.globalStatus(), "Batch stopped \u2014 0 done, 2 pending.");
    EXPECT_EQ(b.executor->started.size(), 1u);
}

TEST(Stop, EveryRunningJobIsAbandonedAndEachLateReportIsTakenForItsOwnRender) {
    Batch b(4);
    b.vm.setParallelJobs(2);
    b.vm.runBatch();
    ASSERT_EQ(b.executor->started.size(), 2u);
    b.vm.stopBatch();
    EXPECT_EQ(b.executor->stopped,
              (std::vector<QUuid>{b.vm.batchJobs()[0].id, b.vm.batchJobs()[1].id}));
    EXPECT_EQ(b.kinds(), (K{0, 0, 0, 0}));
    EXPECT_EQ(b.vm.globalStatus(), "Batch stopped \u2014 0 done, 4 pending.");
    // The second had written its file before the stop reached it; the first had not.
    b.executor->started[1].finished(outcome(true));
    b.executor->started[0].finished(outcome(false, true));
    b.settle();
    EXPECT_EQ(b.kinds(), (K{0, 2, 0, 0}));
    EXPECT_EQ(b.vm.globalStatus(), "Batch stopped \u2014 1 done, 3 pending.");
    EXPECT_EQ(b.executor->started.size(), 2u);

    // Run again, two at a time: the renders are new even for the same jobs. A stop from
    // elsewhere (the executor shut down) under one of them abandons the other too.
    b.vm.runBatch();
    ASSERT_EQ(b.executor->started.size(), 4u);
    EXPECT_EQ(b.executor->started[2].job.id, b.vm.batchJobs()[0].id);
    EXPECT_EQ(b.executor->started[3].job.id, b.vm.batchJobs()[2].id);
    EXPECT_EQ(b.vm.globalStatus(), "Processing 2 files... (1\u20132 of 3)");
    b.executor->started[3].finished(outcome(false, true));
    b.settle();
    EXPECT_FALSE(b.vm.isBatchProcessing());
    EXPECT_EQ(b.kinds(), (K{0, 2, 0, 0}));
    EXPECT_EQ(b.executor->stopped.back(), b.vm.batchJobs()[0].id);
    b.executor->started[2].finished(outcome(false, true));
    b.settle();
    EXPECT_EQ(b.kinds(), (K{0, 2, 0, 0}));
    EXPECT_EQ(b.executor->started.size(), 4u) << "no job started behind the user's back";
}

TEST(BatchTexts, ProgressTimeLeftStopAndLoadFailures) {
    EXPECT_EQ(parallelProgressText(2, 1, 2, 300.0), "Processing 2 files...");
    EXPECT_EQ(parallelProgressText(3, 4, 12, 30.0),
              "Processing 3 files... (4\u20136 of 12, about 30 s left)");
    EXPECT_EQ(batchProgressText("take.wav", 1, 1, 120.0), "Processing take.wav...");
    EXPECT_EQ(batchProgressText("take.wav", 3, 12, std::nullopt),
              "Processing take.wav... (3 of 12)");
    EXPECT_EQ(batchProgressText("take.wav", 3, 12, 130.0),
              "Processing take.wav... (3 of 12, about 2 min left)");
    const std::vector<std::pair<double, const char*>> left = {
        {0, "a few seconds left"},
        {9.9, "a few seconds left"},
        {std::nan(""), "a few seconds left"},
        {12, "about 10 s left"},
        {53, "about 55 s left"},
        {56, "about 1 min left"},
        {149, "about 2 min left"},
        {3599, "about 1 h left"},
        {3600 + 25 * 60, "about 1 h 25 min left"},
        {1e300, "about 2777 h 47 min left"},
    };
    for (const auto& [seconds, text] : left)
        EXPECT_EQ(timeLeftText(seconds), text) << seconds;
    EXPECT_EQ(stoppedSummary(2, 0, 3), "Batch stopped \u2014 2 done, 3 pending.");
    EXPECT_EQ(stoppedSummary(0, 1, 0), "Batch stopped \u2014 0 done, 1 failed, 0 pending.");
    EXPECT_EQ(loadFailuresText(1), "1 file could not be loaded");
    EXPECT_EQ(loadFailuresText(3), "3 files could not be loaded");
}

TEST(Sources, LoadFailuresAreCountedUntilCleared) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    int changes = 0;
    QObject::connect(&vm, &AppViewModel::loadFailuresChanged, [&] { ++changes; });
    for (const char* name : {"missing.wav", "folder"})
        vm.addInputFile(QUrl::fromLocalFile(QString::fromStdString(f.dir.file(name))));
    std::filesystem::create_directory(f.dir.file("folder"));
    vm.handleDrop({QUrl::fromLocalFile(QString::fromStdString(f.dir.file("folder")))});
    f.settle();
    ASSERT_EQ(vm.loadFailures().size(), 3u);
    EXPECT_EQ(changes, 3);
    for (const auto& failure : vm.loadFailures())
        EXPECT_FALSE(failure.reason.isEmpty());
    vm.clearLoadFailures();
    vm.clearLoadFailures(); // already clear: no announcement
    EXPECT_TRUE(vm.loadFailures().empty());
    EXPECT_EQ(changes, 4);
}
