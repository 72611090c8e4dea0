// "Done" means delivered exactly, through the real command line: no file of the queue is
// lost to another job's output, whatever names lead to it; every substitution is said (or
// refused); summaries count what was written; integer sources at their own rate are not
// dithered for nothing; the engines' delay can be trimmed to the exact length.
#include "cli_support.h"
#include "support/test_files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <filesystem>

using namespace sonteva;
using namespace sonteva::test;
namespace fs = std::filesystem;

namespace {

QJsonObject onlyRecord(const CliRun& r) {
    const auto all = r.records();
    EXPECT_EQ(all.size(), 1u) << r.printed();
    return all.empty() ? QJsonObject() : all[0];
}

} // namespace

TEST(Delivery, AnOutputNeverReplacesASourceOfTheQueue) {
    TempDir dir;
    writeTake(dir.file("a.wav"));
    // The second source carries the name the first job's output would take.
    writeTake(dir.file("a_44k_16b_Sonteva_TPDF.wav"), 9);
    const std::string second = slurp(dir.file("a_44k_16b_Sonteva_TPDF.wav"));
    for (bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "reversed" : "in order");
        QStringList files{q(dir.file("a.wav")), q(dir.file("a_44k_16b_Sonteva_TPDF.wav"))};
        if (reversed) std::swap(files[0], files[1]);
        const CliRun r = runCli(QStringList{"convert"} + files);
        EXPECT_EQ(r.status, 1) << r.out.toStdString();
        EXPECT_TRUE(failureOf(r, "a.wav").contains("the source of another job in the queue"))
            << r.out.toStdString();
        EXPECT_EQ(slurp(dir.file("a_44k_16b_Sonteva_TPDF.wav")), second);
        EXPECT_EQ(r.lines().last(), "Batch finished \u2014 1 done, 1 failed.");
    }
}

TEST(Delivery, OutputsAreComparedAsFilesNotAsPathStrings) {
    TempDir dir;
    fs::create_directory(dir.file("A"));
    fs::create_directory_symlink(dir.file("A"), dir.file("B"));
    writeTake(dir.file("A/take.wav"));
    writeFile(dir.file("A/take.flac"), musicLike(2, 4800, 48000, 3), 48000,
              SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    // Two different sources whose outputs meet in one file through the linked folder: the
    // second must not silently replace the first one's output.
    const CliRun clash = runCli({"convert", q(dir.file("A/take.wav")), q(dir.file("B/take.flac"))});
    EXPECT_EQ(clash.status, 1);
    EXPECT_EQ(failureOf(clash, "take.flac"),
              q(dir.file("B/take_44k_16b_Sonteva_TPDF.wav") +
                " was already written by another job in the queue (from " + dir.file("A/take.wav") +
                ")"))
        << clash.out.toStdString();
    EXPECT_EQ(clash.lines().last(), "Batch finished \u2014 1 done, 1 failed.");
    EXPECT_TRUE(doneLine(clash, "take.wav").contains("take_44k_16b_Sonteva_TPDF.wav"));

    // One source under two names is one conversion rendered twice: one file written.
    const CliRun same = runCli({"convert", q(dir.file("A/take.wav")), q(dir.file("B/take.wav"))});
    EXPECT_EQ(same.status, 0) << same.out.toStdString();
    EXPECT_EQ(same.lines().last(), "Batch completed successfully \u2014 1 file written.");

    // A hard link to a source is that source.
    fs::create_directory(dir.file("C"));
    fs::create_hard_link(dir.file("A/take.wav"), dir.file("C/x_44k_16b_Sonteva_TPDF.wav"));
    const std::string before = slurp(dir.file("A/take.wav"));
    writeFile(dir.file("C/x.wav"), musicLike(2, 4800, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const CliRun linked = runCli({"convert", q(dir.file("A/take.wav")), q(dir.file("C/x.wav"))});
    EXPECT_EQ(linked.status, 1);
    EXPECT_TRUE(failureOf(linked, "x.wav").contains("the source of another job"))
        << linked.out.toStdString();
    EXPECT_EQ(slurp(dir.file("A/take.wav")), before);
}

// What ran is reported; a substitution is a note, or a failure for a strict run.
TEST(Delivery, SubstitutionsAreSaidOrRefused) {
    TempDir dir;
    writeFile(dir.file("m.wav"), musicLike(2, 9600, 96000), 96000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const CliRun r = runCli({"convert", "--json", "-f", "flac", "-b", "32f", q(dir.file("m.wav"))});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject o = onlyRecord(r);
    EXPECT_EQ(o["status"].toString(), "done");
    EXPECT_EQ(o["engine"].toString(), "Sonteva SRC");
    EXPECT_EQ(o["bitDepth"].toString(), "24");
    EXPECT_EQ(o["recipe"].toObject()["bitDepth"].toString(), "32f");
    EXPECT_TRUE(o["substituted"].toBool());
    ASSERT_EQ(o["notes"].toArray().size(), 1);
    EXPECT_TRUE(o["notes"][0].toString().startsWith("FLAC holds at most 24-bit integers"));
    EXPECT_EQ(readFile(dir.file("m_44k_32fp_Sonteva_TPDF.flac")).info.format,
              SF_FORMAT_FLAC | SF_FORMAT_PCM_24);

    fs::remove(dir.file("m_44k_32fp_Sonteva_TPDF.flac"));
    const CliRun strict =
        runCli({"convert", "--strict", "-f", "flac", "-b", "32f", q(dir.file("m.wav"))});
    EXPECT_EQ(strict.status, 1);
    EXPECT_TRUE(failureOf(strict, "m.wav").startsWith("Refused to substitute"))
        << strict.out.toStdString();
    EXPECT_FALSE(fs::exists(dir.file("m_44k_32fp_Sonteva_TPDF.flac")));

    // The same holds for an engine that is not built in, and the file name keeps the recipe.
    const CliRun stand = runCli({"convert", "--json", "-a", "r8brain Free", q(dir.file("m.wav"))});
    const QJsonObject s = onlyRecord(stand);
    EXPECT_TRUE(QString(s["output"].toString()).endsWith("m_44k_16b_r8brain_TPDF.wav"));
    if (!s["engine"].toString().startsWith("r8brain")) {
        EXPECT_TRUE(s["substituted"].toBool());
        EXPECT_EQ(s["engine"].toString(), "internal engine (r8brain Free row)");
    }
}

TEST(Delivery, SummariesTellTheTruth) {
    TempDir dir;
    writeFile(dir.file("f.wav"), musicLike(2, 4800, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const CliRun info = runCli({"info", q(dir.file("f.wav")), q(dir.file("f.wav"))});
    EXPECT_EQ(info.status, 0) << info.err.toStdString();
    EXPECT_EQ(info.out.count("\n  Format:"), 2); // once per mention

    // Without the external converter the demo renders through the other engines, leaves it
    // out and says why; that is not a failure of the demo.
    const CliRun demo =
        runCli({"demo", q(dir.file("demo"))}, {{"PATH", "/usr/bin:/bin"}, {"SONTEVA_SSRC", ""}});
    EXPECT_EQ(demo.status, 0) << demo.out.toStdString();
    EXPECT_TRUE(demo.out.contains("SSRC Shibata: not available here")) << demo.out.toStdString();
    EXPECT_TRUE(demo.out.contains("Batch completed successfully \u2014 4 files written."))
        << demo.out.toStdString();
    EXPECT_TRUE(demo.out.contains("Sonteva SRC      demo-master_44k_16b_Sonteva_TPDF.wav"));
    for (const char* name : {"Sonteva", "Swiss", "SoX", "r8brain"})
        EXPECT_TRUE(
            fs::exists(dir.file(std::string("demo/demo-master_44k_16b_") + name + "_TPDF.wav")));
    const ReadBack master = readFile(dir.file("demo/demo-master.wav"));
    EXPECT_EQ(master.info.samplerate, 96000);
    EXPECT_EQ(master.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
}

TEST(Delivery, IntegerSamplesAtTheirOwnRateAreNotDitheredForNothing) {
    TempDir dir;
    const Planar music = musicLike(2, 9600, 96000);
    writeFile(dir.file("m24.wav"), music, 96000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    writeFile(dir.file("m16.wav"), music, 96000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    writeFile(dir.file("mf.wav"), music, 96000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const CliRun r =
        runCli({"convert", "--json", "-r", "96000", "-b", "24", "-d", "TPDF", "-f", "flac",
                q(dir.file("m24.wav")), q(dir.file("m16.wav")), q(dir.file("mf.wav"))});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    // Records arrive as jobs finish, in any order.
    std::map<QString, QJsonObject> records;
    for (const QJsonObject& o : r.records())
        records[o["source"].toString().section('/', -1)] = o;
    ASSERT_EQ(records.size(), 3u) << r.printed();
    for (const char* name : {"m24.wav", "m16.wav"}) {
        const QJsonObject& o = records[name];
        EXPECT_EQ(o["dither"].toString(), "None");
        EXPECT_TRUE(o["notes"][0].toString().startsWith("samples unchanged, no dither needed"));
        EXPECT_FALSE(o["substituted"].toBool());
    }
    EXPECT_EQ(readFile(dir.file("m24_96k_24b_Sonteva_TPDF.flac")).ints,
              readFile(dir.file("m24.wav")).ints);
    EXPECT_EQ(readFile(dir.file("m16_96k_24b_Sonteva_TPDF.flac")).doubles,
              readFile(dir.file("m16.wav")).doubles);
    // A float source is reduced, and dithered as the recipe says.
    EXPECT_EQ(records["mf.wav"]["dither"].toString(), "TPDF");

    // A longer word length than the target still needs its dither.
    const CliRun down =
        runCli({"convert", "--json", "-r", "96000", "-b", "16", q(dir.file("m24.wav"))});
    EXPECT_EQ(onlyRecord(down)["dither"].toString(), "TPDF");
}

TEST(Delivery, CompensatedDelayGivesEveryEngineTheExactLength) {
    TempDir dir;
    writeFile(dir.file("m.wav"), musicLike(1, 48007, 48000), 48000,
              SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    for (const char* engine : {"Sonteva SRC", "Zavir Iravizeza", "SoX VHQ", "r8brain Free"}) {
        SCOPED_TRACE(engine);
        const CliRun r = runCli({"convert", "--json", "--compensate-delay", "-a", engine, "-b",
                                 "24", "-d", "None", "-o", q(dir.path()), "--postfix",
                                 QString("_") + QString(engine).remove(' '), q(dir.file("m.wav"))});
        const QJsonObject o = onlyRecord(r);
        ASSERT_EQ(o["status"].toString(), "done") << r.out.toStdString();
        EXPECT_EQ(o["frames"].toInt(), 44106); // round(48007 * 44100 / 48000) = 44106.43
        EXPECT_LE(std::fabs(o["latencyFrames"].toDouble()), 0.5);
        EXPECT_EQ(readFile(o["output"].toString().toStdString()).info.frames, 44106);
    }
}
