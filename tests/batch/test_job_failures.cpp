// Every bad input and fault ends the job with a readable reason, writes nothing partial
// and leaves existing files alone.
#include "batch_support.h"
#include "model/output_check.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/resource.h>

using namespace sonteva;
using namespace sonteva::test;

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

size_t filesIn(const fs::path& dir) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
        ++n;
    return n;
}

JobOutcome failing(const ConversionJob& job) {
    const JobOutcome r = runJob(job);
    EXPECT_FALSE(r.succeeded);
    EXPECT_FALSE(r.error.isEmpty());
    return r;
}

} // namespace

// A source with no audio fails with the reason, whatever the engine (the external
// converter, which needs a whole signal, never sees it), and writes nothing.
TEST(JobRunner, AnEmptySourceIsRefused) {
    TempDir dir;
    writeFile(dir.file("silent.wav"), Planar(2), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    for (const QString& engine : qualityOptions()) {
        const JobOutcome r = failing(jobFor(dir.file("silent.wav"), 44100, BitDepth::int16,
                                            "Noise Shaping High", AudioFormat::flac, engine));
        EXPECT_EQ(r.error, kNoAudioText) << engine.toStdString();
    }
    EXPECT_EQ(filesIn(dir.path()), 1u);
}

// The runner's own checks when a job starts: an existing output is kept for a no-clobber
// job (and said replaced otherwise); a name too long for the folder fails before any read.
TEST(JobRunner, ExistingOutputsAndOverlongNames) {
    TempDir dir;
    writeFile(dir.file("a.wav"), musicLike(2, 4800, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    ConversionJob job = jobFor(dir.file("a.wav"), 44100, BitDepth::int16, "TPDF");
    EXPECT_FALSE(runJob(job).replaced);
    EXPECT_TRUE(runJob(job).replaced);
    writeText(dir.file("a_out.wav"), "keep me");
    job.noClobber = true;
    const JobOutcome kept = runJob(job);
    EXPECT_FALSE(kept.succeeded);
    EXPECT_TRUE(kept.error.isEmpty());
    EXPECT_EQ(kept.skipped, "exists: " + QString::fromStdString(dir.file("a_out.wav")));
    EXPECT_EQ(slurp(dir.file("a_out.wav")), "keep me");
    job.postfix = QString(260, 'x');
    const JobOutcome tooLong = failing(job);
    EXPECT_TRUE(tooLong.error.contains("allows 255")) << tooLong.error.toStdString();
    EXPECT_EQ(filesIn(dir.path()), 2u);
}

TEST(JobFailures, UnusableSources) {
    TempDir dir;
    const auto missing = failing(jobFor(dir.file("nowhere.wav"), 44100, BitDepth::int16, "TPDF"));
    EXPECT_TRUE(missing.error.contains("nowhere.wav")) << missing.error.toStdString();

    writeText(dir.file("notes.wav"), "These are liner notes, not audio.\n");
    failing(jobFor(dir.file("notes.wav"), 44100, BitDepth::int16, "TPDF"));

    writeText(dir.file("empty.wav"), "");
    failing(jobFor(dir.file("empty.wav"), 44100, BitDepth::int16, "TPDF"));

    writeFile(dir.file("whole.wav"), musicLike(2, 48000, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const std::string bytes = slurp(dir.file("whole.wav"));
    writeText(dir.file("cut.wav"), bytes.substr(0, bytes.size() / 2));
    failing(jobFor(dir.file("cut.wav"), 44100, BitDepth::int16, "TPDF"));

    // Nothing but the inputs is left in the folder.
    EXPECT_EQ(filesIn(dir.path()), 4u);
}

TEST(JobFailures, OutputFolderProblems) {
    TempDir dir;
    const auto src = dir.file("take.wav");
    writeFile(src, musicLike(2, 4000, 48000), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    auto job = jobFor(src, 44100, BitDepth::int16, "TPDF");
    job.outputFolder = QUrl::fromLocalFile(QString::fromStdString(dir.file("missing-folder")));
    const auto missing = failing(job);
    EXPECT_TRUE(missing.error.startsWith("Cannot open output for writing"))
        << missing.error.toStdString();

    // Root writes anywhere a mode allows nothing, so use a place no one can create files in.
    fs::create_directory(dir.file("locked"));
    fs::permissions(dir.file("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    job.outputFolder = QUrl::fromLocalFile(
        ::geteuid() == 0 ? "/proc" : QString::fromStdString(dir.file("locked")));
    const auto locked = failing(job);
    EXPECT_TRUE(locked.error.startsWith("Cannot open output for writing"))
        << locked.error.toStdString();
}

TEST(JobFailures, NeverOverwritesItsOwnSource) {
    TempDir dir;
    const auto src = dir.file("take.wav");
    writeFile(src, musicLike(2, 4000, 48000), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const std::string before = slurp(src);
    auto job = jobFor(src, 44100, BitDepth::int16, "TPDF");
    job.postfix = "";
    const auto same = failing(job);
    EXPECT_TRUE(same.error.contains("own source")) << same.error.toStdString();
    // The same file reached through a linked folder.
    fs::create_directory_symlink(dir.path(), dir.file("link"));
    job.outputFolder = QUrl::fromLocalFile(QString::fromStdString(dir.file("link")));
    failing(job);
    EXPECT_EQ(slurp(src), before);
}

TEST(JobFailures, FullDiskKeepsTheExistingFileAndLeavesNoTemporary) {
    TempDir dir;
    const auto src = dir.file("long.wav");
    writeFile(src, musicLike(2, 200000, 48000), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const auto job = jobFor(src, 96000, BitDepth::int24, "TPDF");
    const std::string target = job.outputUrl().toLocalFile().toStdString();
    writeText(target, "an earlier delivery");

    // A file-size limit makes every write past it fail the way a full disk does.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const JobOutcome r = runJob(job);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(r.succeeded);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(slurp(target), "an earlier delivery");
    EXPECT_EQ(filesIn(dir.path()), 2u);
}

TEST(JobFailures, NonFiniteSamplesAreSilencedAndReported) {
    TempDir dir;
    const auto src = dir.file("broken-float.wav");
    Planar data = musicLike(1, 3000, 44100);
    data[0][100] = std::nan("");
    data[0][2000] = -INFINITY;
    writeFile(src, data, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const JobOutcome r = runJob(jobFor(src, 48000, BitDepth::int16, "TPDF"));
    ASSERT_TRUE(r.succeeded) << r.error.toStdString();
    ASSERT_EQ(r.notes.size(), 1);
    EXPECT_TRUE(r.notes[0].startsWith("2 non-finite samples")) << r.notes[0].toStdString();
}

// The header read back after every job names each way a file differs from what the job
// claims; a file that cannot be read back is a mismatch too.
TEST(JobFailures, AWrittenFileIsCheckedAgainstWhatTheJobClaims) {
    TempDir dir;
    const std::string file = dir.file("out.wav");
    writeFile(file, musicLike(2, 1000, 48000), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(outputMismatch(file, 48000, 2, 1000, BitDepth::int16), "");
    EXPECT_EQ(outputMismatch(file, 44100, 2, 1000, BitDepth::int16),
              "it runs at 48000 Hz instead of 44100");
    EXPECT_EQ(outputMismatch(file, 48000, 1, 999, BitDepth::int24),
              "it has 2 channels instead of 1; it holds 1000 frames instead of 999; it stores "
              "16-bit integer samples instead of 24");
    writeFile(file, musicLike(2, 1000, 48000), 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(outputMismatch(file, 48000, 2, 1000, BitDepth::float64),
              "it stores 32-bit float samples instead of 64f");
    EXPECT_EQ(outputMismatch(file, 48000, 2, 1000, BitDepth::float32), "");
    writeText(file, "RIFF");
    EXPECT_EQ(outputMismatch(file, 48000, 2, 1000, BitDepth::float32)
                  .rfind("it cannot be read back (", 0),
              0u);
}
