// The sonteva command line as a user runs it: exit statuses, job lines, summary lines,
// JSON records, and the files it leaves behind.
#include "cli_support.h"
#include "support/ffmpeg_files.h"
#include "support/metadata_files.h"
#include "support/test_files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace sonteva::test;

TEST(Cli, BatchGoesOnPastAFailedJob) {
    TempDir dir;
    writeFile(dir.file("a.wav"), musicLike(2, 9600, 96000), 96000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    writeFile(dir.file("c.wav"), musicLike(1, 9600, 96000), 96000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    // A FLAC damaged in its middle opens (its end is whole) and fails while read.
    Planar noisy(2, std::vector<double>(96000));
    std::mt19937_64 rng(3);
    for (auto& ch : noisy)
        for (double& v : ch)
            v = std::uniform_real_distribution<double>(-0.9, 0.9)(rng);
    writeFile(dir.file("b.flac"), noisy, 96000, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    std::string flac = slurp(dir.file("b.flac"));
    flac[flac.size() / 2] ^= 0x55;
    put(dir.file("b.flac"), flac);
    const CliRun r =
        runCli({"convert", "--jobs", "1", "-r", "48000", "-b", "24", q(dir.file("a.wav")),
                q(dir.file("missing.wav")), q(dir.file("b.flac")), q(dir.file("c.wav"))});
    EXPECT_EQ(r.status, 1);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << r.out.toStdString();
    // The file that could not be loaded is a failure of the run, said with its path.
    EXPECT_TRUE(r.err.startsWith("sonteva: Failed to load " + q(dir.file("missing.wav")) +
                                 ": No such file"))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("\nAdded 3 jobs \u2014 3 in queue, 3 pending.\n"));
    EXPECT_TRUE(lines[0].startsWith("done    a.wav \u2192 ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("failed  b.flac: Source ended early"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("done    c.wav")) << lines[2].toStdString();
    EXPECT_EQ(lines[3], "Batch finished \u2014 2 done, 2 failed.");
    EXPECT_FALSE(fs::exists(dir.file("b_48k_24b_Sonteva_TPDF.wav")));
    EXPECT_EQ(readFile(dir.file("c_48k_24b_Sonteva_TPDF.wav")).info.frames, 4800 + 32);
}

// A format libsndfile refuses reaches the decoder loaded at run time; ALAC is lossless, so
// a pass-through job gives back the source's integers.
TEST(Cli, AlacSourceThroughTheRunTimeDecoder) {
    TempDir dir;
    Planar signal = exactly(musicLike(2, 20000, 48000), 24);
    writeM4a(dir.file("take.m4a"), {AV_CODEC_ID_ALAC, AV_SAMPLE_FMT_S32P, 24}, 48000, signal);
    const CliRun info = runCli({"info", q(dir.file("take.m4a"))});
    EXPECT_TRUE(info.out.contains("Word length:    not stated")) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains("Sample rate:    48 kHz (48000 Hz)"));
    const CliRun r = runCli({"convert", "-r", "48000", "-b", "24", "-d", "None", "-f", "flac",
                             q(dir.file("take.m4a"))});
    ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    const ReadBack back = readFile(dir.file("take_48k_24b_Sonteva.flac"));
    ASSERT_EQ(back.ints.size(), 2u);
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < signal[c].size(); ++i)
            ASSERT_EQ(back.ints[c][i], toInt(signal[c][i], 24)) << c << " " << i;
}

// The job line and the JSON record carry the levels, and what the target cannot hold.
TEST(Cli, LevelsAndMetadataNotes) {
    TempDir dir;
    wavFile(dir.file("b.wav"), 96000, 2, 96000, chunk("bext", bext(0, 1, "")));
    const CliRun r = runCli(
        {"convert", "-r", "48000", "-b", "16", "-f", "flac", "--json", q(dir.file("b.wav"))});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    const QJsonObject levels = o["levels"].toObject();
    EXPECT_NEAR(levels["samplePeakDbfs"].toDouble(), -6.02, 0.01);
    EXPECT_GE(levels["truePeakDbtp"].toDouble(), levels["samplePeakDbfs"].toDouble());
    EXPECT_NEAR(levels["integratedLufs"].toDouble(), -6.02, 0.05);
    EXPECT_EQ(levels["clippedSamples"].toInt(), 0);
    EXPECT_EQ(o["notes"].toArray().at(0).toString(), "metadata not carried to FLAC: bext");
    EXPECT_TRUE(
        r.err.contains(QString::fromUtf8("  peak -6.02 dBFS, true peak -6.0")) &&
        r.err.contains(QString::fromUtf8(" LUFS \u2014 metadata not carried to FLAC: bext")))
        << r.err.toStdString();
}
