// The state object and the real executor together: jobs rendered on the background
// thread, progress and outcomes posted back, the summary at the end. Also run under
// ThreadSanitizer.
#include "batch/queue_executor.h"
#include "batch_support.h"
#include "model/app_view_model.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include <gtest/gtest.h>

using namespace sonteva;
using namespace sonteva::test;

TEST(QueueExecutor, RendersTheQueueOnItsThreadAndReportsBack) {
    TempDir dir;
    QSettings settings(QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat);
    AppViewModel vm(std::make_shared<QueueExecutor>(), &settings);
    for (const char* name : {"a.wav", "b.wav"}) {
        writeFile(dir.file(name), musicLike(2, 300000, 96000), 96000,
                  SF_FORMAT_WAV | SF_FORMAT_PCM_24);
        vm.addInputFile(QUrl::fromLocalFile(QString::fromStdString(dir.file(name))));
    }
    vm.addAllToQueue();
    // A job whose source disappears after queueing fails; the one after it still runs.
    std::filesystem::remove(dir.file("a.wav"));
    std::vector<double> progress;
    QObject::connect(&vm, &AppViewModel::batchJobsChanged, [&] {
        for (const ConversionJob& j : vm.batchJobs())
            if (const auto* p = std::get_if<JobProcessing>(&j.status))
                if (progress.empty() || progress.back() != p->progress)
                    progress.push_back(p->progress);
    });
    vm.runBatch();
    QElapsedTimer clock;
    clock.start();
    while (vm.isBatchProcessing() && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(vm.isBatchProcessing());
    EXPECT_EQ(vm.globalStatus(), "Batch finished \u2014 1 done, 1 failed.");
    EXPECT_TRUE(std::get<JobError>(vm.batchJobs()[0].status).description.contains("a.wav"));
    EXPECT_GT(std::get<JobDone>(vm.batchJobs()[1].status).elapsed, 0.0);
    EXPECT_EQ(progress, (std::vector<double>{0.0, 0.1 + 0.85 * 262144 / 300000, 0.95}));
    // Two blocks of reads write what one block of conversion and one of dither give.
    const ReadBack back = readFile(dir.file("b_44k_16b_Sonteva_TPDF.wav"));
    EXPECT_EQ(back.info.samplerate, 44100);
    EXPECT_EQ(back.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(back.info.frames, 137842); // ceil((300000 + 64) * 147 / 320)
    EXPECT_EQ(back.ints, tpdfReference(musicLike(2, 300000, 96000), 96000, 44100, 16));
    EXPECT_EQ(streamProgress(5, 0), 0.95); // a source that states no length
    const JobOutcome* outcome = vm.outcomeOf(vm.batchJobs()[1].id);
    ASSERT_NE(outcome, nullptr);
    EXPECT_EQ(outcome->framesWritten, 137842);
}

TEST(QueueExecutor, RendersSeveralJobsAtOnceToTheSameBytes) {
    TempDir dir;
    QSettings settings(QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat);
    std::vector<QUrl> sources;
    for (int i = 0; i < 4; ++i) {
        const std::string name = dir.file(QStringLiteral("s%1.wav").arg(i).toStdString());
        writeFile(name, musicLike(1 + i % 2, 200000 + 70000 * i, 96000, uint64_t(i)), 96000,
                  SF_FORMAT_WAV | SF_FORMAT_PCM_24);
        sources.push_back(QUrl::fromLocalFile(QString::fromStdString(name)));
    }
    std::map<int, std::vector<std::string>> written;
    for (int jobs : {1, 3}) {
        const std::string out = dir.file(QStringLiteral("out%1").arg(jobs).toStdString());
        std::filesystem::create_directory(out);
        AppViewModel vm(std::make_shared<QueueExecutor>(), &settings);
        for (const QUrl& url : sources)
            vm.addInputFile(url);
        vm.setOutputFolder(QUrl::fromLocalFile(QString::fromStdString(out)));
        vm.addAllToQueue();
        vm.setParallelJobs(jobs);
        int most = 0;
        QObject::connect(&vm, &AppViewModel::batchJobsChanged,
                         [&] { most = std::max(most, vm.runningJobCount()); });
        vm.runBatch();
        QElapsedTimer clock;
        clock.start();
        while (vm.isBatchProcessing() && clock.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_FALSE(vm.isBatchProcessing());
        EXPECT_EQ(vm.globalStatus(), "Batch completed successfully \u2014 4 files written.");
        EXPECT_EQ(most, jobs);
        for (int i = 0; i < 4; ++i) {
            const QString name = QStringLiteral("/s%1_44k_16b_Sonteva_TPDF.wav").arg(i);
            std::ifstream in(out + name.toStdString(), std::ios::binary);
            written[jobs].emplace_back(std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>());
            EXPECT_GT(written[jobs].back().size(), 1000u);
        }
    }
    EXPECT_TRUE(written[1] == written[3]);
}
