#include "model_support.h"

#include <gtest/gtest.h>

using namespace sonteva;
using namespace sonteva::test;

namespace {

JobOutcome ok() {
    JobOutcome o;
    o.succeeded = true;
    return o;
}

JobOutcome failure(const char* why) {
    JobOutcome o;
    o.error = why;
    return o;
}

} // namespace

TEST(Queue, FrozenJobsRunTopToBottomAndAFailureDoesNotStopTheRest) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    f.addSources(3);
    vm.setCustomPostfix("_44k_16b_Sonteva_TPDF_ClientA");
    vm.addAllToQueue();
    EXPECT_EQ(vm.globalStatus(), "Added 3 jobs \u2014 3 in queue, 3 pending.");
    vm.setTargetFsSelection(96000); // later changes do not touch queued jobs
    EXPECT_EQ(vm.batchJobs()[0].targetFs, 44100);
    EXPECT_EQ(vm.batchJobs()[2].postfix, "_44k_16b_Sonteva_TPDF_ClientA");

    vm.runBatch();
    vm.runBatch(); // already running: nothing happens
    ASSERT_EQ(f.executor->started.size(), 1u);
    EXPECT_EQ(vm.globalStatus(), "Processing take0.wav... (1 of 3)");
    EXPECT_TRUE(is<JobProcessing>(vm.batchJobs()[0]));
    f.executor->started[0].progress(0.5);
    f.settle();
    EXPECT_EQ(std::get<JobProcessing>(vm.batchJobs()[0].status).progress, 0.5);

    f.executor->started[0].finished(failure("Format not recognised."));
    f.settle();
    EXPECT_EQ(std::get<JobError>(vm.batchJobs()[0].status).description, "Format not recognised.");
    ASSERT_EQ(f.executor->started.size(), 2u); // the next job started
    f.executor->started[0].progress(0.9);      // a late report changes nothing
    f.settle();
    EXPECT_TRUE(is<JobError>(vm.batchJobs()[0]));

    // A source added and queued during the run is rendered by the same run.
    f.addSources(1);
    vm.addAllToQueue();
    EXPECT_EQ(vm.globalStatus(), "Added 4 jobs \u2014 7 in queue, 5 pending.");
    for (size_t i = 1; i < 7; ++i) {
        ASSERT_EQ(f.executor->started.size(), i + 1);
        f.executor->started[i].finished(ok());
        f.settle();
    }
    EXPECT_FALSE(vm.isBatchProcessing());
    EXPECT_EQ(vm.globalStatus(), "Batch finished \u2014 6 done, 1 failed.");
    EXPECT_TRUE(is<JobDone>(vm.batchJobs()[6]));
    EXPECT_EQ(vm.queueSummary(), "7 in queue, 0 pending");
}

TEST(Queue, AnEmptyRunFinishedRowsCountAgainAndOneFileReadsSingular) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    std::vector<bool> flags;
    QObject::connect(&vm, &AppViewModel::isBatchProcessingChanged,
                     [&] { flags.push_back(vm.isBatchProcessing()); });
    vm.runBatch();
    EXPECT_EQ(flags, (std::vector<bool>{true, false}));
    EXPECT_EQ(vm.globalStatus(), "Batch completed successfully \u2014 0 files written.");
    f.addSources(1);
    vm.addAllToQueue();
    EXPECT_EQ(vm.globalStatus(), "Added 1 job \u2014 1 in queue, 1 pending.");
    vm.runBatch();
    f.executor->started[0].finished(ok());
    f.settle();
    EXPECT_EQ(vm.globalStatus(), "Batch completed successfully \u2014 1 file written.");
    vm.runBatch(); // nothing pending: the finished row is counted again
    EXPECT_EQ(vm.globalStatus(), "Batch completed successfully \u2014 1 file written.");
}

// What can be known before any render is said at Add to Queue: a folder that takes no
// file refuses the step once; a name its file system cannot hold fails its job at once.
TEST(Queue, OutputsThatCannotBeWrittenAreSaidWhenQueued) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    f.addSources(2);
    vm.setOutputFolder(QUrl::fromLocalFile(QString::fromStdString(f.dir.file("gone"))));
    EXPECT_FALSE(vm.addAllToQueue());
    EXPECT_TRUE(vm.batchJobs().empty());
    EXPECT_EQ(vm.globalStatus(), "The output folder " + QString::fromStdString(f.dir.file("gone")) +
                                     " does not exist: nothing was added to the queue.");
    vm.resetOutputFolder();
    vm.setCustomPostfix(QString(250, 'p'));
    EXPECT_TRUE(vm.addAllToQueue());
    ASSERT_EQ(vm.batchJobs().size(), 2u);
    for (const ConversionJob& job : vm.batchJobs())
        EXPECT_TRUE(std::get<JobError>(job.status).description.contains("bytes long"));
    vm.runBatch();
    EXPECT_TRUE(f.executor->started.empty());
    EXPECT_EQ(vm.globalStatus(), "Batch finished \u2014 0 done, 2 failed.");
}

TEST(Queue, ElapsedTimeTicksWhileProcessingAndStatusIsAddressedById) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    f.addSources(2);
    vm.addAllToQueue();
    vm.runBatch();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 350)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_GT(std::get<JobProcessing>(vm.batchJobs()[0].status).elapsed, 0.0);
    // The running job leaves the queue (the window prevents it; the object must cope).
    const QUuid running = vm.batchJobs()[0].id;
    vm.removeJob(running);
    f.executor->started[0].finished(ok());
    f.settle();
    ASSERT_EQ(vm.batchJobs().size(), 1u);
    EXPECT_TRUE(is<JobProcessing>(vm.batchJobs()[0])); // the next one, not a wrong row
    EXPECT_EQ(f.executor->started.size(), 2u);
}

TEST(Sources, IntakeDuplicatesCaptionsAndTheSameRateNote) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    EXPECT_FALSE(vm.targetRateMatchesAllSources());
    const std::string path = f.dir.file("take.wav");
    writeFile(path, musicLike(2, 44100, 44100), 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
    vm.addInputFile(url);
    EXPECT_EQ(vm.globalStatus(), "Added take.wav");
    ASSERT_EQ(vm.inputFiles().size(), 1u);
    EXPECT_EQ(sourceCaption(vm.inputFiles()[0]), "44k / 16 / St / 0:01");
    EXPECT_TRUE(vm.targetRateMatchesAllSources());

    vm.setTargetFsSelection(48000);
    const QString status = vm.globalStatus();
    vm.addInputFile(url); // listed once; not even the status line changes
    EXPECT_EQ(vm.inputFiles().size(), 1u);
    EXPECT_EQ(vm.globalStatus(), status);

    std::FILE* out = std::fopen(f.dir.file("notes.txt").c_str(), "w");
    std::fputs("liner notes\n", out);
    std::fclose(out);
    const QUrl text = QUrl::fromLocalFile(QString::fromStdString(f.dir.file("notes.txt")));
    QStringList said;
    QObject::connect(
        &vm, &AppViewModel::sourceFailedToLoad,
        [&](const QUrl& url, const QString& reason) { said << url.toLocalFile() + ": " + reason; });
    vm.addInputFile(text);
    ASSERT_EQ(said.size(), 1);
    EXPECT_TRUE(said[0].startsWith(text.toLocalFile() + ": ")) << said[0].toStdString();
    ASSERT_EQ(vm.loadFailures().size(), 1u);
    EXPECT_EQ(vm.loadFailures()[0].url, text);
    EXPECT_FALSE(vm.loadFailures()[0].reason.isEmpty());
    EXPECT_EQ(vm.inputFiles().size(), 1u);
    EXPECT_EQ(vm.globalStatus(), status);

    // Drops are taken up after the drop returns; non-file items are skipped.
    writeFile(f.dir.file("b.wav"), musicLike(6, 480, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_TRUE(vm.handleDrop({QUrl("https://example.invalid/a.wav"),
                               QUrl::fromLocalFile(QString::fromStdString(f.dir.file("b.wav")))}));
    EXPECT_EQ(vm.inputFiles().size(), 1u);
    f.settle();
    ASSERT_EQ(vm.inputFiles().size(), 2u);
    EXPECT_EQ(sourceCaption(vm.inputFiles()[1]), "48k / 24 / Mo / 0:00");
    vm.clearInputFiles();
    EXPECT_FALSE(vm.targetRateMatchesAllSources());
}

TEST(Sources, PanelsAndTheOutputFolder) {
    struct Panels : FilePanels {
        QList<QUrl> files;
        std::optional<QUrl> folder;
        QList<QUrl> chooseAudioFiles() override { return files; }
        std::optional<QUrl> chooseFolder() override { return folder; }
    };
    ModelFixture f;
    AppViewModel& vm = f.start();
    vm.addFilesViaPanel(); // no panels installed: nothing happens
    vm.selectOutputFolder();
    auto panels = std::make_shared<Panels>();
    vm.setPanels(panels);
    writeFile(f.dir.file("p.wav"), musicLike(1, 480, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    panels->files = {QUrl::fromLocalFile(QString::fromStdString(f.dir.file("p.wav")))};
    vm.addFilesViaPanel();
    EXPECT_EQ(vm.inputFiles().size(), 1u);
    vm.selectOutputFolder(); // cancelled: unchanged
    EXPECT_FALSE(vm.outputFolder().has_value());
    const QUrl deliveries = QUrl::fromLocalFile(QString::fromStdString(f.dir.path()));
    panels->folder = deliveries;
    vm.selectOutputFolder();
    vm.addAllToQueue();
    vm.resetOutputFolder(); // jobs keep the folder they were queued with
    EXPECT_EQ(vm.batchJobs()[0].outputFolder, deliveries);
    EXPECT_FALSE(vm.outputFolder().has_value());
}

namespace {

struct FakePlayer : PreviewControl {
    bool playing = false;
    std::optional<QUuid> current;
    std::vector<std::string> calls;
    double volume = -1;
    bool isPlaying() const override { return playing; }
    std::optional<QUuid> currentJobId() const override { return current; }
    void pause() override { calls.push_back("pause"); }
    void resume() override { calls.push_back("resume"); }
    void playFromStart(const ConversionJob& job) override {
        calls.push_back("play " + job.inputFile.url.fileName().toStdString());
    }
    void setVolume(double v) override { volume = v; }
    void setFailureListener(std::function<void(const QString&)>) override {}
};

struct FakeDevices : OutputRateControl {
    std::vector<double> asked;
    bool followOutputRate() const override { return false; }
    bool matchRate(double rate) override {
        asked.push_back(rate);
        return true;
    }
};

} // namespace

TEST(Audition, EntryPoints) {
    ModelFixture f;
    f.settings->setValue("sonteva.monitorVolume", 0.5);
    AppViewModel& vm = f.start();
    auto player = std::make_shared<FakePlayer>();
    auto devices = std::make_shared<FakeDevices>();
    vm.attachPreview(player, devices);
    EXPECT_EQ(player->volume, 0.5);
    vm.setMonitorVolume(0.75);
    EXPECT_EQ(player->volume, 0.75);

    vm.togglePlayPause(); // nothing selected
    f.addSources(1);
    vm.setTargetFsSelection(96000); // the sources are at 48 kHz
    vm.addAllToQueue();
    vm.setSelectedBatchJobId(vm.batchJobs()[0].id);
    vm.togglePlayPause();
    vm.matchDeviceRate();
    player->current = vm.batchJobs()[0].id; // the player now holds that job: resume it
    vm.togglePlayPause();
    player->playing = true;
    vm.togglePlayPause();
    EXPECT_EQ(player->calls, (std::vector<std::string>{"play take0.wav", "resume", "pause"}));
    EXPECT_EQ(devices->asked, std::vector<double>{96000});
    // (That a preview that cannot go on is said, and that with the output rate followed the
    // device switches before the preview starts, the window checks on a real server.)
    // A removed job is no longer auditioned.
    player->playing = false;
    player->current.reset();
    vm.removeJob(vm.batchJobs()[0].id);
    player->calls.clear();
    vm.togglePlayPause();
    EXPECT_TRUE(player->calls.empty());
    EXPECT_EQ(f.start().monitorVolume(), 0.75) << "the monitor volume persists";
}

TEST(Queue, ParallelJobsFillFreedSlotsTopToBottomWithTheirOwnProgress) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    EXPECT_EQ(vm.parallelJobs(), 1); // the designed one-at-a-time flow
    f.addSources(5);
    vm.addAllToQueue();
    vm.setParallelJobs(2);
    vm.runBatch();
    ASSERT_EQ(f.executor->started.size(), 2u);
    EXPECT_EQ(vm.globalStatus(), "Processing 2 files... (1\u20132 of 5)");
    EXPECT_EQ(f.executor->started[1].job.id, vm.batchJobs()[1].id);
    f.executor->started[0].progress(0.5);
    f.executor->started[1].progress(0.25);
    f.settle();
    EXPECT_EQ(std::get<JobProcessing>(vm.batchJobs()[0].status).progress, 0.5);
    EXPECT_EQ(std::get<JobProcessing>(vm.batchJobs()[1].status).progress, 0.25);
    EXPECT_DOUBLE_EQ(vm.batchProgress(), 0.75 / 5);
    // The second finishes first: the third starts in its place.
    f.executor->started[1].finished(ok());
    f.settle();
    ASSERT_EQ(f.executor->started.size(), 3u);
    EXPECT_EQ(f.executor->started[2].job.id, vm.batchJobs()[2].id);
    EXPECT_TRUE(is<JobDone>(vm.batchJobs()[1]));
    EXPECT_DOUBLE_EQ(vm.batchProgress(), 1.5 / 5);
    // Allowing more starts more at once; allowing fewer stops none.
    vm.setParallelJobs(3);
    ASSERT_EQ(f.executor->started.size(), 4u);
    vm.setParallelJobs(1);
    for (size_t i : {0u, 2u, 3u}) {
        f.executor->started[i].finished(ok());
        f.settle();
    }
    ASSERT_EQ(f.executor->started.size(), 5u);
    EXPECT_EQ(vm.globalStatus(), "Processing take4.wav... (5 of 5)");
    f.executor->started[4].finished(failure("Disk full."));
    f.settle();
    EXPECT_EQ(vm.globalStatus(), "Batch finished \u2014 4 done, 1 failed.");
    EXPECT_DOUBLE_EQ(vm.batchProgress(), 1.0);

    // Remembered like the other Convert options, within 1 ... kMostParallelJobs.
    AppViewModel& again = f.start();
    again.rememberJobOptions();
    EXPECT_EQ(again.parallelJobs(), 1);
    again.setParallelJobs(0);
    EXPECT_EQ(again.parallelJobs(), 1);
    again.setParallelJobs(1000);
    EXPECT_EQ(again.parallelJobs(), kMostParallelJobs);
    again.setParallelJobs(3);
    EXPECT_EQ(f.start().parallelJobs(), 1);
    f.vm->rememberJobOptions();
    EXPECT_EQ(f.vm->parallelJobs(), 3);
}

TEST(Queue, AJobWaitsWhileAnEarlierOneWritesItsFile) {
    ModelFixture f;
    AppViewModel& vm = f.start();
    f.addSources(2);
    vm.addAllToQueue();
    vm.addAllToQueue(); // the same two conversions again: each writes the same file twice
    vm.setParallelJobs(4);
    vm.runBatch();
    // Jobs 2 and 3 write what jobs 0 and 1 are writing: they wait.
    ASSERT_EQ(f.executor->started.size(), 2u);
    EXPECT_TRUE(is<JobPending>(vm.batchJobs()[2]));
    f.executor->started[1].finished(failure("Broken."));
    f.settle();
    ASSERT_EQ(f.executor->started.size(), 3u);
    EXPECT_EQ(f.executor->started[2].job.id, vm.batchJobs()[3].id);
    f.executor->started[0].finished(ok());
    f.settle();
    // The same conversion again re-renders the file: it is not refused.
    ASSERT_EQ(f.executor->started.size(), 4u);
    EXPECT_EQ(f.executor->started[3].job.id, vm.batchJobs()[2].id);
}
