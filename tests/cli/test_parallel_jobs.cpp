// Several files rendered at once (`--jobs N`) through the real command line: the same
// bytes as one at a time, on every route; JSON records that say which job they are and
// arrive as jobs finish; running jobs that would write the same file never overlap, and
// what is refused or re-rendered does not depend on N.
#include "cli_support.h"
#include "support/test_files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace sonteva;
using namespace sonteva::test;
namespace fs = std::filesystem;

namespace {

// Every file's bytes, except the time of writing that libsndfile stamps into a float
// file's PEAK chunk (seconds since 1970), which two renders a second apart differ in.
std::map<std::string, std::string> contents(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : namesIn(folder)) {
        std::string bytes = slurp(folder + "/" + name);
        if (const size_t peak = bytes.find("PEAK"); peak != std::string::npos && peak < 4096)
            bytes.replace(peak + 12, 4, 4, '\0');
        files[name] = std::move(bytes);
    }
    return files;
}

} // namespace

TEST(ParallelJobs, OutputsAreTheSameBytesWhateverTheNumberOfJobs) {
    TempDir dir;
    // Several blocks of the streaming route, channel counts from one to three, and sources
    // the engines convert, pass through and see whole.
    writeFile(dir.file("a.wav"), musicLike(2, 600000, 96000), 96000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    writeFile(dir.file("b.flac"), musicLike(1, 200000, 48000, 2), 48000,
              SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    writeFile(dir.file("c.aiff"), musicLike(3, 90000, 44100, 3), 44100,
              SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
    writeFile(dir.file("d.wav"), musicLike(2, 30000, 88200, 4), 88200,
              SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const QStringList sources{q(dir.file("a.wav")), q(dir.file("b.flac")), q(dir.file("c.aiff")),
                              q(dir.file("d.wav"))};
    const std::map<QString, QString> ssrc{{"SONTEVA_SSRC", SONTEVA_FAKE_SSRC}};
    const std::vector<QStringList> recipes{
        {"-r", "44100", "-b", "16", "-a", "Sonteva SRC", "-d", "TPDF"},
        {"-r", "48000", "-b", "24", "-a", "SoX VHQ", "-d", "None", "-f", "flac"},
        {"-r", "96000", "-b", "32f", "-a", "Zavir Iravizeza", "--compensate-delay"},
        // The whole-file routes: the shaped dither after the in-house engine, and the
        // external converter.
        {"-r", "44100", "-b", "16", "-a", "Sonteva SRC", "-d", "Noise Shaping Medium"},
        {"-r", "48000", "-b", "24", "-a", "SSRC Shibata", "-d", "TPDF"}};
    for (size_t k = 0; k < recipes.size(); ++k) {
        SCOPED_TRACE(recipes[k].join(' ').toStdString());
        std::map<std::string, std::string> reference;
        for (const char* jobs : {"1", "4", "2"}) {
            const std::string out = dir.file("out" + std::to_string(k) + "-" + jobs);
            fs::create_directory(out);
            const CliRun r = runCli(QStringList{"convert", "-q", "--jobs", jobs, "-o", q(out)} +
                                        recipes[k] + sources,
                                    ssrc);
            ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
            const auto written = contents(out);
            ASSERT_EQ(written.size(), 4u) << jobs;
            if (reference.empty())
                reference = written;
            else
                EXPECT_TRUE(written == reference) << "--jobs " << jobs << " wrote other bytes";
        }
    }
}

TEST(ParallelJobs, JsonRecordsCarryTheQueueIndexAndArriveAsJobsFinish) {
    TempDir dir;
    // The first job is by far the longest.
    writeFile(dir.file("long.wav"), musicLike(2, 96000 * 12, 96000), 96000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    QStringList files{q(dir.file("long.wav")), q(dir.file("missing.wav"))};
    for (const char* name : {"s1.wav", "s2.wav", "s3.wav"}) {
        writeFile(dir.file(name), musicLike(1, 4800, 48000), 48000,
                  SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        files << q(dir.file(name));
    }
    for (const char* jobs : {"2", "1"}) {
        SCOPED_TRACE(jobs);
        const CliRun r = runCli(QStringList{"convert", "--json", "--jobs", jobs} + files);
        EXPECT_EQ(r.status, 1); // the missing file
        const auto all = r.records();
        ASSERT_EQ(all.size(), 5u) << r.out.toStdString();
        // The file that could not be loaded holds no place in the queue.
        EXPECT_EQ(all[0]["source"].toString(), files[1]);
        EXPECT_TRUE(all[0].contains("index") && all[0]["index"].isNull());
        std::vector<int> order;
        for (size_t i = 1; i < all.size(); ++i) {
            const int index = all[i]["index"].toInt(-1);
            ASSERT_GE(index, 0);
            ASSERT_LT(index, 4);
            // Queue positions count the jobs: the four files that were loaded, in order.
            const QString expected = files[index == 0 ? 0 : index + 1];
            EXPECT_EQ(all[i]["source"].toString(), expected);
            EXPECT_EQ(all[i]["status"].toString(), "done");
            order.push_back(index);
        }
        // One at a time, the queue's order; two at a time, the order they finish in: the
        // short job that started beside the long one is done first.
        if (std::string(jobs) == "1")
            EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
        else
            EXPECT_NE(order.front(), 0) << "the long job's record came first";
        std::sort(order.begin(), order.end());
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    }
}

TEST(ParallelJobs, RunningJobsNeverWriteTheSameFile) {
    TempDir dir;
    fs::create_directories(dir.file("A"));
    fs::create_directories(dir.file("B"));
    fs::create_directories(dir.file("out"));
    // Two sources of the same name in different folders meet in one output; the same file
    // queued twice is a re-render; a third file has an output of its own.
    writeFile(dir.file("A/take.wav"), musicLike(2, 96000 * 4, 96000), 96000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    writeFile(dir.file("B/take.wav"), musicLike(2, 4800, 48000, 5), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    writeFile(dir.file("other.wav"), musicLike(1, 4800, 48000, 6), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const std::string output = dir.file("out/take_44k_16b_Sonteva_TPDF.wav");
    const auto run = [&](const char* jobs, const QStringList& files) {
        fs::remove(output);
        return runCli(QStringList{"convert", "--jobs", jobs, "-o", q(dir.file("out"))} + files);
    };
    const QStringList clash{q(dir.file("A/take.wav")), q(dir.file("B/take.wav")),
                            q(dir.file("other.wav"))};
    std::string first;
    for (const char* jobs : {"1", "3"}) {
        SCOPED_TRACE(jobs);
        const CliRun r = run(jobs, clash);
        EXPECT_EQ(r.status, 1) << r.out.toStdString();
        EXPECT_FALSE(doneLine(r, "take.wav").isEmpty()) << r.out.toStdString();
        EXPECT_TRUE(failureOf(r, "take.wav").contains("was already written by another job"))
            << r.out.toStdString();
        EXPECT_FALSE(doneLine(r, "other.wav").isEmpty());
        EXPECT_EQ(r.lines().last(), "Batch finished \u2014 2 done, 1 failed.");
        // The file holds the first job's conversion, whole.
        if (first.empty()) first = slurp(output);
        EXPECT_EQ(slurp(output), first);
    }
    // A first job that fails writes nothing; the second then writes the file, as it would
    // one at a time.
    put(dir.file("A/take.wav"), slurp(dir.file("A/take.wav")).substr(0, 200000));
    std::string second;
    for (const char* jobs : {"1", "3"}) {
        SCOPED_TRACE(jobs);
        const CliRun r = run(jobs, clash);
        EXPECT_TRUE(failureOf(r, "take.wav").contains("Source ended early")) << r.out.toStdString();
        EXPECT_EQ(r.lines().last(), "Batch finished \u2014 2 done, 1 failed.");
        if (second.empty()) second = slurp(output);
        EXPECT_EQ(slurp(output), second);
        EXPECT_NE(second, first);
    }
    // The same conversion queued twice: rendered twice, one after the other.
    for (const char* jobs : {"1", "3"}) {
        const CliRun r = run(jobs, {q(dir.file("B/take.wav")), q(dir.file("B/take.wav"))});
        EXPECT_EQ(r.status, 0) << r.out.toStdString();
        EXPECT_EQ(slurp(output), second);
        EXPECT_EQ(r.lines().last(), "Batch completed successfully \u2014 1 file written.");
    }
}

TEST(ParallelJobs, TheNumberOfJobsIsAWholeNumberFromOne) {
    TempDir dir;
    writeFile(dir.file("a.wav"), musicLike(1, 4800, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    for (const char* bad : {"0", "-2", "two", "1.5", "65", ""}) {
        SCOPED_TRACE(bad);
        const CliRun r = runCli({"convert", "--jobs", bad, q(dir.file("a.wav"))});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains("from 1 to 64")) << r.err.toStdString();
    }
    EXPECT_EQ(runCli({"convert", "--jobs"}).status, 2);
    const CliRun ok = runCli({"convert", "-q", "--jobs=64", q(dir.file("a.wav"))});
    EXPECT_EQ(ok.status, 0) << ok.err.toStdString();
}
