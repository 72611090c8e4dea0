// Stopping a job: on each route, at any of its steps, it ends promptly as `stopped`, with no
// output, no temporary file and no work folder left, and a converter it ran killed with
// its group. Then the state object with the real executor on long sources: Stop leaves the
// abandoned job pending and nothing of it on disk, and a new run renders everything.
#include "batch/queue_executor.h"
#include "batch_support.h"
#include "model/app_view_model.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

using namespace sonteva;
using namespace sonteva::test;

namespace {

// The pids the stand-in converter logs when it hangs: its own, then "grandchild <pid> of
// <pid>" for what it started in its group; 0 until logged.
std::pair<pid_t, pid_t> hangingConverter(const std::string& log) {
    std::ifstream in(log);
    pid_t pid = 0, grandchild = 0;
    std::string word;
    in >> pid >> word >> grandchild;
    return {pid, word == "grandchild" ? grandchild : 0};
}

class StopJob : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SONTEVA_RESOURCE_DIR", work.path().c_str(), 1);
        ::setenv("SONTEVA_SSRC", SONTEVA_FAKE_SSRC, 1);
        ::setenv("TMPDIR", work.path().c_str(), 1); // the converter's work folders
        ::setenv("FAKE_SSRC_LOG", log.c_str(), 1);
        source = dir.file("master.wav");
        // Three streaming blocks.
        writeFile(source, musicLike(2, 3 * kStreamBlockFrames, 96000), 96000,
                  SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    }
    void TearDown() override {
        for (const char* name :
             {"SONTEVA_RESOURCE_DIR", "SONTEVA_SSRC", "TMPDIR", "FAKE_SSRC_LOG", "FAKE_SSRC_MODE"})
            ::unsetenv(name);
    }

    TempDir dir, work;
    std::string log = dir.file("ssrc.log");
    std::string source;
};

} // namespace

TEST_F(StopJob, EveryRouteStopsAtItsNextStepAndLeavesNothing) {
    struct Case {
        const char* what;
        int rate;
        BitDepth bits;
        const char* dither;
        const char* engine;
        bool atFirstProgress; // else before the job starts
    };
    const std::vector<Case> cases = {
        {"streaming, after its first block", 44100, BitDepth::int16, "TPDF", "Sonteva SRC", true},
        {"streaming, before it starts", 44100, BitDepth::int24, "None", "Sonteva SRC", false},
        {"whole file, after a channel", 48000, BitDepth::int16, "Noise Shaping High", "Sonteva SRC",
         true},
        {"whole file, before it starts", 44100, BitDepth::int24, "None", "SSRC Shibata", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ConversionJob job =
            jobFor(source, c.rate, c.bits, c.dither, AudioFormat::wav, c.engine);
        std::stop_source stop;
        if (!c.atFirstProgress) stop.request_stop();
        int reports = 0; // blocks or channels already under way may still report
        const JobOutcome o = runJob(
            job,
            [&](double) {
                ++reports;
                stop.request_stop();
            },
            stop.get_token());
        EXPECT_TRUE(o.stopped);
        EXPECT_FALSE(o.succeeded);
        EXPECT_EQ(o.error, "Stopped at the user's request");
        if (!c.atFirstProgress) {
            EXPECT_EQ(reports, 0);
        }
        EXPECT_EQ(namesIn(dir), (std::set<std::string>{"master.wav"}));
        EXPECT_TRUE(work.entries().empty());
        EXPECT_FALSE(std::ifstream(log).good()) << "the converter never ran";
    }
}

TEST_F(StopJob, AConverterThatHangsIsKilledWithItsGroup) {
    ::setenv("FAKE_SSRC_MODE", "hang", 1);
    ::setenv("FAKE_SSRC_GRANDCHILD", "group", 1);
    for (const char* dither : {"None", "Noise Shaping Low"}) {
        SCOPED_TRACE(dither);
        std::remove(log.c_str());
        // SSRC conversion, or SSRC noise shaping after the in-house engine.
        const ConversionJob job = jobFor(
            source, std::string(dither) == "None" ? 44100 : 48000, BitDepth::int16, dither,
            AudioFormat::wav, std::string(dither) == "None" ? "SSRC Shibata" : "Sonteva SRC");
        std::stop_source stop;
        JobOutcome o;
        std::thread render([&] { o = runJob(job, {}, stop.get_token()); });
        std::pair<pid_t, pid_t> converter;
        for (int i = 0; i < 3000 && !(converter = hangingConverter(log)).second; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_GT(converter.second, 0);
        stop.request_stop();
        render.join(); // without the stop this would wait for the converter's time limit
        EXPECT_TRUE(o.stopped);
        EXPECT_TRUE(o.notes.isEmpty()) << "no TPDF stand-in for a job that was stopped";
        for (const pid_t pid : {converter.first, converter.second})
            EXPECT_TRUE(::kill(pid, 0) == -1 && errno == ESRCH) << pid;
        EXPECT_TRUE(work.entries().empty()) << "the work folder went with it";
        EXPECT_EQ(namesIn(dir), (std::set<std::string>{"master.wav", "ssrc.log"}));
    }
    ::unsetenv("FAKE_SSRC_GRANDCHILD");
}

namespace {

struct LongBatch {
    TempDir dir, settingsDir;
    QSettings settings{QString::fromStdString(settingsDir.file("settings.ini")),
                       QSettings::IniFormat};
    std::unique_ptr<AppViewModel> vm =
        std::make_unique<AppViewModel>(std::make_shared<QueueExecutor>(), &settings);
    std::set<std::string> sources;

    // Mono sources of eight streaming blocks each: a stop after the first block finds
    // each job far from its end.
    explicit LongBatch(int jobs) {
        const Planar long_ = musicLike(1, 8 * kStreamBlockFrames, 96000);
        for (int i = 0; i < jobs; ++i) {
            const std::string name = "take" + std::to_string(i) + ".wav";
            writeFile(dir.file(name), long_, 96000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
            vm->addInputFile(QUrl::fromLocalFile(QString::fromStdString(dir.file(name))));
            sources.insert(name);
        }
        vm->addAllToQueue();
    }
    // Stops the batch from the state object's thread as soon as a job has done its first
    // block.
    void stopAtFirstProgress() {
        QObject::connect(vm.get(), &AppViewModel::batchJobsChanged, vm.get(), [this] {
            for (const ConversionJob& j : vm->batchJobs())
                if (const auto* p = std::get_if<JobProcessing>(&j.status); p && p->progress > 0)
                    vm->stopBatch();
        });
    }
    void runToTheEnd() {
        QElapsedTimer clock;
        clock.start();
        while (vm->isBatchProcessing() && clock.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
};

} // namespace

TEST(StopBatch, TheAbandonedJobLeavesNothingAndRunsAgainLater) {
    LongBatch b(2);
    b.stopAtFirstProgress();
    b.vm->runBatch();
    b.runToTheEnd();
    ASSERT_FALSE(b.vm->isBatchProcessing());
    EXPECT_EQ(b.vm->globalStatus(), "Batch stopped \u2014 0 done, 2 pending.");
    for (const ConversionJob& j : b.vm->batchJobs())
        EXPECT_TRUE(std::holds_alternative<JobPending>(j.status));

    // Once the render has stopped (a new job waits for it), nothing of it is on disk.
    QObject::disconnect(b.vm.get(), &AppViewModel::batchJobsChanged, nullptr, nullptr);
    b.vm->runBatch();
    b.runToTheEnd();
    EXPECT_EQ(b.vm->globalStatus(), "Batch completed successfully \u2014 2 files written.");
    std::set<std::string> expected = b.sources;
    for (const char* out : {"take0_44k_16b_Sonteva_TPDF.wav", "take1_44k_16b_Sonteva_TPDF.wav"})
        expected.insert(out);
    EXPECT_EQ(namesIn(b.dir), expected) << "no temporary file is left";
    // The whole of it: ceil((2097152 + 64) * 147 / 320) frames.
    EXPECT_EQ(readFile(b.dir.file("take0_44k_16b_Sonteva_TPDF.wav")).info.frames, 963409);
}

TEST(StopBatch, QuittingDuringAJobStopsItAndRemovesItsTemporaryFile) {
    LongBatch b(1);
    bool started = false;
    QObject::connect(b.vm.get(), &AppViewModel::batchJobsChanged, b.vm.get(), [&] {
        const auto* p = std::get_if<JobProcessing>(&b.vm->batchJobs()[0].status);
        started = started || (p && p->progress > 0);
    });
    b.vm->runBatch();
    QElapsedTimer clock;
    clock.start();
    while (!started && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(started);
    b.vm.reset(); // as the application does at its end: the executor stops the job
    EXPECT_EQ(namesIn(b.dir), b.sources);
}
