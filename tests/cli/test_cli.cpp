// The sonteva command line as a user runs it: exit statuses, job lines, summary lines,
// JSON records, and the files it leaves behind.
#include "support/ffmpeg_files.h"
#include "support/test_files.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

using namespace sonteva::test;

namespace {

struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

CliRun runCli(const QStringList& args, const QString& cwd = {}) {
    QProcess p;
    if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
    p.start(QStringLiteral(SONTEVA_CLI), args);
    p.waitForFinished(120000);
    CliRun r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TEST(Cli, UsageErrorsExitWithTwo) {
    const CliRun r = runCli({"convert", "-a", "Best Engine", "x.wav"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("\"Sonteva SRC\", \"Zavir Iravizeza\"")) << r.err.toStdString();
    EXPECT_EQ(runCli({"transmogrify"}).status, 2);
    EXPECT_EQ(runCli({}).status, 2);
    EXPECT_EQ(runCli({"--help"}).status, 0);
}

TEST(Cli, BatchGoesOnPastAFailedJob) {
    TempDir dir;
    writeFile(dir.file("a.wav"), musicLike(2, 9600, 96000), 96000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    writeFile(dir.file("c.wav"), musicLike(1, 9600, 96000), 96000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const CliRun r = runCli({"convert", "-r", "48000", "-b", "24", q(dir.file("a.wav")),
                             q(dir.file("missing.wav")), q(dir.file("c.wav"))});
    EXPECT_EQ(r.status, 1);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << r.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("done    a.wav \u2192 ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("failed  missing.wav: ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("done    c.wav")) << lines[2].toStdString();
    EXPECT_EQ(lines[3], "Batch finished \u2014 2 done, 1 failed.");
    EXPECT_TRUE(fs::exists(dir.file("a_48k_24b_Sonteva_TPDF.wav")));
    EXPECT_TRUE(fs::exists(dir.file("c_48k_24b_Sonteva_TPDF.wav")));
    EXPECT_EQ(readFile(dir.file("c_48k_24b_Sonteva_TPDF.wav")).info.frames, 4800 + 32);
}

TEST(Cli, JsonRecordsPostfixAndOutputFolder) {
    TempDir dir;
    fs::create_directory(dir.file("out"));
    writeFile(dir.file("take.wav"), musicLike(2, 4410, 44100), 44100,
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const CliRun r =
        runCli({"convert", "--json", "-r", "96000", "-b", "32f", "-f", "aiff", "--postfix",
                "_client", "-o", q(dir.file("out")), q(dir.file("take.wav"))});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.trimmed().toUtf8()).object();
    EXPECT_EQ(o["status"].toString(), "done");
    EXPECT_EQ(o["output"].toString(), q(dir.file("out/take_client.aiff")));
    EXPECT_TRUE(o["error"].isNull());
    EXPECT_GT(o["seconds"].toDouble(), 0.0);
    EXPECT_TRUE(r.err.contains("Batch completed successfully \u2014 1 file written."))
        << r.err.toStdString();
    const ReadBack back = readFile(dir.file("out/take_client.aiff"));
    EXPECT_EQ(back.info.format, SF_FORMAT_AIFF | SF_FORMAT_FLOAT);
    EXPECT_EQ(back.info.samplerate, 96000);
}

TEST(Cli, InfoCaptionsAndLoadFailures) {
    TempDir dir;
    writeFile(dir.file("m.wav"), musicLike(2, 96000 * 3, 96000), 96000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const CliRun r = runCli({"info", q(dir.file("m.wav")), q(dir.file("gone.flac"))});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.contains("m.wav  96k / 24 / St / 0:03")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Failed to load file://" + q(dir.file("gone.flac")) + ": "))
        << r.out.toStdString();
}

TEST(Cli, DemoRendersThroughTheEngines) {
    TempDir dir;
    const CliRun r = runCli({"demo", q(dir.file("demo"))});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Batch completed successfully")) << r.out.toStdString();
    EXPECT_TRUE(fs::exists(dir.file("demo/demo-master_44k_16b_Sonteva_TPDF.wav")));
    EXPECT_TRUE(fs::exists(dir.file("demo/demo-master_44k_16b_Swiss_TPDF.wav")));
    const ReadBack master = readFile(dir.file("demo/demo-master.wav"));
    EXPECT_EQ(master.info.samplerate, 96000);
    EXPECT_EQ(master.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
}

// A format libsndfile refuses reaches the decoder loaded at run time; ALAC is lossless, so
// a pass-through job gives back the source's integers.
TEST(Cli, AlacSourceThroughTheRunTimeDecoder) {
    TempDir dir;
    Planar signal = exactly(musicLike(2, 20000, 48000), 24);
    writeM4a(dir.file("take.m4a"), {AV_CODEC_ID_ALAC, AV_SAMPLE_FMT_S32P, 24}, 48000, signal);
    const CliRun info = runCli({"info", q(dir.file("take.m4a"))});
    EXPECT_TRUE(info.out.contains("take.m4a  48k / unknown / St / 0:00")) << info.out.toStdString();
    const CliRun r = runCli({"convert", "-r", "48000", "-b", "24", "-d", "None", "-f", "flac",
                             q(dir.file("take.m4a"))});
    ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    const ReadBack back = readFile(dir.file("take_48k_24b_Sonteva.flac"));
    ASSERT_EQ(back.ints.size(), 2u);
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < signal[c].size(); ++i)
            ASSERT_EQ(back.ints[c][i], toInt(signal[c][i], 24)) << c << " " << i;
}
