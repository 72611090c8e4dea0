// Edges a user meets through the real binary: outputs that exist already (kept or
// replaced, and said), the quick look before delivery, file names that are not UTF-8,
// outputs that cannot be written (said before any render), and sources without audio.
#include "cli_support.h"
#include "support/metadata_files.h"
#include "support/test_files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace sonteva::test;

namespace {

QJsonObject record(const QString& line) {
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(line.toUtf8(), &error).object();
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    return o;
}

// Runs a shell script: the way to hand sonteva arguments that are not UTF-8 (QProcess
// encodes every argument as UTF-8).
CliRun runScript(const std::string& path, const std::string& script) {
    put(path, script);
    QProcess p;
    p.start("/bin/sh", {q(path)});
    return collect(p);
}

} // namespace

TEST(Edges, AnExistingOutputIsReplacedAndSaidOrKept) {
    TempDir dir;
    writeTake(dir.file("a.wav"));
    writeTake(dir.file("b.wav"), 2);
    const QString a = q(dir.file("a.wav")), b = q(dir.file("b.wav"));
    const CliRun first = runCli({"convert", "--json", a});
    EXPECT_FALSE(record(first.lines().value(0))["replaced"].toBool());
    const CliRun again = runCli({"convert", "--json", a});
    EXPECT_TRUE(record(again.lines().value(0))["replaced"].toBool());

    const std::string kept = dir.file("a_44k_16b_Sonteva_TPDF.wav");
    put(kept, "a deliverable already signed off");
    const CliRun skip = runCli({"convert", "--no-clobber", a, b});
    EXPECT_EQ(skip.status, 0) << skip.err.toStdString();
    EXPECT_EQ(slurp(kept), "a deliverable already signed off");
    const QStringList lines = skip.lines();
    ASSERT_EQ(lines.size(), 3) << skip.out.toStdString();
    EXPECT_EQ(lines[0], "skipped a.wav \u2192 " + q(kept) + "  (exists)");
    EXPECT_TRUE(lines[1].startsWith("done    b.wav"));
    EXPECT_FALSE(lines[1].contains("replaced"));
    EXPECT_EQ(lines[2], "Batch completed successfully \u2014 1 file written, 1 skipped.");
    const CliRun json = runCli({"convert", "-n", "--json", a});
    const QJsonObject skipped = record(json.lines().value(0));
    EXPECT_EQ(skipped["status"].toString(), "skipped");
    EXPECT_FALSE(skipped["replaced"].toBool());
    EXPECT_EQ(skipped["output"].toString(), q(kept));
    EXPECT_EQ(json.status, 0);
    // Without it the file is replaced, and the line says so.
    const CliRun replaced = runCli({"convert", a});
    EXPECT_TRUE(doneLine(replaced, "a.wav").contains("  (replaced)"));
    EXPECT_NE(slurp(kept), "a deliverable already signed off");
}

TEST(Edges, InfoIsTheQuickLookBeforeDelivery) {
    TempDir dir;
    writeFile(dir.file("cd.flac"), musicLike(2, 44100 * 2, 44100), 44100,
              SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    // WAVE_FORMAT_EXTENSIBLE states the speakers: libsndfile's for six channels are 5.1.
    writeFile(dir.file("surround.wav"), Planar(6, std::vector<double>(4800)), 48000,
              SF_FORMAT_WAVEX | SF_FORMAT_PCM_16);
    Bytes info = text("INFO");
    for (const Bytes& c :
         {chunk("INAM", text("Title One")), chunk("ISRC", text("GB-AYE-24-00001"))})
        info.insert(info.end(), c.begin(), c.end());
    Bytes cues;
    put(cues, 2, 4);
    for (uint32_t id : {1u, 2u}) {
        put(cues, id, 4), put(cues, id * 100, 4), put(cues, "data"), put(cues, 0, 4);
        put(cues, 0, 4), put(cues, id * 100, 4);
    }
    Bytes broadcast = bext(172800000, 2, "A=PCM,F=48000,W=16,M=stereo,T=mastered\r\n", -1400);
    std::memcpy(broadcast.data() + 256, "Mastering Room", 14);
    wavFile(dir.file("bwf.wav"), 48000, 2, 48000, [&] {
        Bytes all = chunk("bext", broadcast);
        for (const Bytes& c : {chunk("LIST", info), chunk("cue ", cues)})
            all.insert(all.end(), c.begin(), c.end());
        return all;
    }());

    const CliRun r = runCli(
        {"info", q(dir.file("cd.flac")), q(dir.file("surround.wav")), q(dir.file("bwf.wav"))});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    for (const char* expected :
         {"Format:         FLAC, FLAC", "Sample rate:    44.1 kHz (44100 Hz)",
          "Word length:    16-bit integer\n  Channels:       2 channels (stereo)\n"
          "  Duration:       0:02.000 (88200 frames)",
          "Channels:       6 channels (5.1: FL FR FC LFE BL BR)", "Description:    A master",
          "Originator:     Mastering Room",
          "Time reference: 172800000 frames (01:00:00.000 of the day)",
          "bext loudness:  -14.00 LUFS", "Coding history: A=PCM,F=48000,W=16,M=stereo,T=mastered",
          "Tags:           INAM=Title One", "ISRC:           GBAYE2400001", "Markers:        2"})
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(expected))) << expected << "\n"
                                                                 << r.out.toStdString();

    const CliRun json =
        runCli({"info", "--json", "--levels", q(dir.file("bwf.wav")), q(dir.file("gone.wav"))});
    EXPECT_EQ(json.status, 1);
    ASSERT_EQ(json.lines().size(), 2) << json.out.toStdString();
    const QJsonObject o = record(json.lines()[0]);
    EXPECT_EQ(o["sampleRate"].toInt(), 48000);
    EXPECT_EQ(o["bitDepth"].toString(), "16");
    EXPECT_EQ(o["channels"].toInt(), 2);
    EXPECT_EQ(o["frames"].toInt(), 48000);
    EXPECT_EQ(o["isrc"].toString(), "GBAYE2400001");
    EXPECT_EQ(o["markers"].toInt(), 2);
    EXPECT_EQ(o["bext"]["timeReference"].toInteger(), 172800000);
    EXPECT_EQ(o["bext"]["timeOfDay"].toString(), "01:00:00.000");
    EXPECT_EQ(o["bext"]["originator"].toString(), "Mastering Room");
    // The tone of wavFile: 16384 / 32768 of full scale is -6.02 dBFS.
    EXPECT_NEAR(o["levels"]["samplePeakDbfs"].toDouble(), -6.02, 0.01);
    EXPECT_GE(o["levels"]["truePeakDbtp"].toDouble(), -6.03);
    EXPECT_NEAR(o["levels"]["integratedLufs"].toDouble(), -6.02, 0.05);
    EXPECT_EQ(record(json.lines()[1])["status"].toString(), "error");
}

// A Latin-1 name from an old share: opened, converted and named from its bytes, and
// printed escaped rather than mangled.
TEST(Edges, FileNamesAreBytes) {
    TempDir dir;
    const std::string name = "caf\xE9";
    writeTake(dir.file(name + ".wav"));
    const QString escaped = q(dir.path()) + "/caf\\xE9.wav";
    std::string source = dir.file(name + ".wav");
    source.insert(source.begin(), '\'');
    source += '\'';
    const CliRun r =
        runScript(dir.file("run.sh"), std::string(SONTEVA_CLI) + " convert --json " + source +
                                          " && " + SONTEVA_CLI + " info " + source + "\n");
    ASSERT_EQ(r.status, 0) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(fs::exists(dir.file(name + "_44k_16b_Sonteva_TPDF.wav")));
    const QJsonObject o = record(r.lines().value(0));
    EXPECT_EQ(o["source"].toString(), escaped);
    EXPECT_EQ(o["output"].toString(), q(dir.path()) + "/caf\\xE9_44k_16b_Sonteva_TPDF.wav");
    EXPECT_TRUE(r.out.contains("caf\\xE9.wav\n  Format:")) << r.out.toStdString();
    EXPECT_FALSE((r.out + r.err).contains(QChar::ReplacementCharacter));
}

TEST(Edges, WhatCannotBeWrittenIsSaidBeforeAnyRender) {
    TempDir dir;
    writeTake(dir.file("a.wav"));
    writeTake(dir.file("b.wav"));
    put(dir.file("plain"), "not a folder");
    const QStringList sources{q(dir.file("a.wav")), q(dir.file("b.wav"))};
    struct Case {
        std::string folder;
        QString said;
    };
    for (const Case& c : {Case{dir.file("missing"), "does not exist"},
                          Case{dir.file("missing/deeper"), "does not exist"},
                          Case{dir.file("plain"), "is not a folder"}}) {
        const CliRun r = runCli(QStringList{"convert", "-o", q(c.folder)} + sources);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "sonteva: The output folder " + q(c.folder) + " " + c.said +
                             ": nothing was added to the queue.\n");
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.wav", "b.wav", "plain"}));

    // A name past the file system's 255 bytes fails at once; the other job renders.
    const std::string longName(240, 'x');
    writeFile(dir.file(longName + ".wav"), musicLike(1, 480, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const CliRun r = runCli({"convert", "--json", q(dir.file(longName + ".wav")), sources[0]});
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.lines().size(), 2) << r.out.toStdString();
    const QJsonObject failed = record(r.lines()[0]);
    EXPECT_EQ(failed["status"].toString(), "error");
    EXPECT_TRUE(failed["error"].toString().contains("is 265 bytes long; the file system of " +
                                                    q(dir.path()) + " allows 255"))
        << failed["error"].toString().toStdString();
    EXPECT_EQ(record(r.lines()[1])["status"].toString(), "done");
}

// A source with no audio is refused when its job is queued, in every format, before
// the other jobs render; it is loaded like any other (the window lists it as 0:00).
TEST(Edges, ASourceWithoutAudioFailsAtOnce) {
    TempDir dir;
    wavFile(dir.file("empty.wav"), 96000, 2, 0, chunk("bext", bext(96000, 1, "")));
    writeTake(dir.file("a.wav"));
    for (const char* format : {"wav", "aiff", "flac"}) {
        SCOPED_TRACE(format);
        const CliRun r = runCli(
            {"convert", "-f", format, "-b", "24", q(dir.file("a.wav")), q(dir.file("empty.wav"))});
        EXPECT_EQ(r.status, 1);
        const QStringList lines = r.lines();
        ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
        EXPECT_EQ(lines[0], "failed  empty.wav: The source holds no audio (0 frames): there is "
                            "nothing to deliver");
        EXPECT_TRUE(lines[1].startsWith("done    a.wav"));
        EXPECT_EQ(lines[2], "Batch finished \u2014 1 done, 1 failed.");
        EXPECT_FALSE(fs::exists(dir.file(std::string("empty_44k_24b_Sonteva.") + format)));
    }
}
