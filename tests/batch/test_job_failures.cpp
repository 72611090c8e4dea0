// Every bad input and fault ends the job with a readable reason, writes nothing partial
// and leaves existing files alone.
#include "batch_support.h"
#include "model/output_check.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace sonteva;
using namespace sonteva::test;

namespace {

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
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"silent.wav"});
}

// The runner's own check, for an output that appeared after the job was queued (the
// command line's refuses outputs that exist when it queues): a no-clobber job keeps it.
TEST(JobRunner, ANoClobberJobKeepsAnExistingOutput) {
    TempDir dir;
    writeFile(dir.file("a.wav"), musicLike(2, 4800, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    ConversionJob job = jobFor(dir.file("a.wav"), 44100, BitDepth::int16, "TPDF");
    put(dir.file("a_out.wav"), "keep me");
    job.noClobber = true;
    const JobOutcome kept = runJob(job);
    EXPECT_FALSE(kept.succeeded);
    EXPECT_TRUE(kept.error.isEmpty());
    EXPECT_EQ(kept.skipped, "exists: " + QString::fromStdString(dir.file("a_out.wav")));
    EXPECT_EQ(slurp(dir.file("a_out.wav")), "keep me");
}

// Sources that cannot be read and outputs that cannot be written: the job fails with the
// reason, and the folder keeps exactly what it held.
TEST(JobFailures, UnusableSourcesAndOutputs) {
    TempDir dir;
    writeFile(dir.file("take.wav"), musicLike(2, 48000, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const std::string take = slurp(dir.file("take.wav"));
    put(dir.file("notes.wav"), "These are liner notes, not audio.\n");
    put(dir.file("empty.wav"), "");
    put(dir.file("cut.wav"), take.substr(0, take.size() / 2));
    fs::create_directory(dir.file("locked"));
    fs::permissions(dir.file("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    fs::create_directory_symlink(dir.path(), dir.file("link"));
    const std::set<std::string> before = namesIn(dir);
    // Root writes anywhere a mode allows nothing: then a place no one can create files in.
    const std::string locked = ::geteuid() == 0 ? "/proc" : dir.file("locked");
    struct Case {
        const char* source;
        std::string folder;
        const char* postfix;
        const char* error;
    };
    const Case cases[] = {
        {"nowhere.wav", "", "_out", "nowhere.wav"},
        {"notes.wav", "", "_out", ""},
        {"empty.wav", "", "_out", ""},
        {"cut.wav", "", "_out", ""},
        {"take.wav", dir.file("missing-folder"), "_out", "Cannot open output for writing"},
        {"take.wav", locked, "_out", "Cannot open output for writing"},
        {"take.wav", "", "", "own source"},
        {"take.wav", dir.file("link"), "", "own source"}, // the same file through a link
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " into '" + c.folder + "' + '" + c.postfix + "'");
        ConversionJob job = jobFor(dir.file(c.source), 44100, BitDepth::int16, "TPDF");
        job.postfix = c.postfix;
        if (!c.folder.empty())
            job.outputFolder = QUrl::fromLocalFile(QString::fromStdString(c.folder));
        const JobOutcome r = failing(job);
        EXPECT_TRUE(r.error.contains(c.error)) << r.error.toStdString();
        EXPECT_EQ(namesIn(dir), before);
    }
    EXPECT_EQ(slurp(dir.file("take.wav")), take);
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
    put(file, "RIFF");
    EXPECT_EQ(outputMismatch(file, 48000, 2, 1000, BitDepth::float32)
                  .rfind("it cannot be read back (", 0),
              0u);
}
