// `sonteva measure` through the real command line: usage, the listing, the table with
// engines that cannot run named, JSON with every figure, and a PNG drawn without a display.
#include "cli_support.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>

namespace sonteva::test {
namespace {

const std::map<QString, QString> kNoConverter = {{"SONTEVA_SSRC", "/nonexistent/ssrc_hp"},
                                                 {"PATH", "/usr/bin:/bin"}};

TEST(Measure, UsageErrorsSayWhatIsWrong) {
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{"measure"}, "either -a ENGINE or --all"},
        {{"measure", "-a", "SoX VHQ", "--all", "--from", "96000", "-r", "44100"}, "either"},
        {{"measure", "-a", "SoX VHQ", "-r", "44100"}, "--from"},
        {{"measure", "-a", "SoX VHQ", "--from", "96000"}, "-r RATE"},
        {{"measure", "-a", "SoX VHQ", "--from", "96000", "-r", "12345"}, "unknown rate \"12345\""},
        {{"measure", "-a", "SoX VHQ", "--from", "abc", "-r", "44100"}, "source rate \"abc\""},
        {{"measure", "-a", "SoX VHQ", "--from", "7999", "-r", "44100"}, "8000 to 768000"},
        {{"measure", "-a", "SoX VHQ", "--from", "44101", "-r", "48000"}, "greatest common divisor"},
        {{"measure", "-a", "Bogus", "--from", "96000", "-r", "44100"}, "unknown algorithm"},
        {{"measure", "--all", "--from", "96000", "-r", "44100", "--frobnicate"}, "unknown option"},
        {{"measure", "--all", "--from", "96000", "-r", "44100", "song.wav"}, "takes no file"},
        {{"measure", "--all", "--from", "96000", "-r", "44100", "--plot", "x.png"}, "-a ENGINE"},
        {{"measure", "-a", "SoX VHQ", "--from", "96000", "-r", "44100", "--plot"}, "needs a value"},
        {{"measure", "--all=yes", "--from", "96000", "-r", "44100"}, "unknown option --all=yes"},
    };
    for (const auto& [args, text] : cases) {
        const CliRun r = runCli(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(text)) << args.join(' ').toStdString() << "\n"
                                          << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    const CliRun help = runCli({"measure", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("sonteva measure -a ENGINE --from HZ -r HZ"));
    EXPECT_TRUE(runCli({"--help"}).out.contains("\n  measure "));
}

TEST(Measure, AllPutsEnginesSideBySideAndNamesWhatCannotRun) {
    const CliRun r = runCli({"measure", "--all", "--from", "96000", "-r", "44100"}, kNoConverter);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = r.lines();
    ASSERT_GE(lines.size(), 7);
    EXPECT_TRUE(lines[0].startsWith("engine"));
    EXPECT_TRUE(lines[1].startsWith("Sonteva SRC "));
    EXPECT_TRUE(lines[2].startsWith("Zavir Iravizeza "));
    EXPECT_TRUE(lines[3].startsWith("SoX VHQ "));
    // The stand-in is a row under its own name, never under the name it stands in for.
    EXPECT_TRUE(lines[4].startsWith("internal engine (r8brain Free row)"))
        << lines[4].toStdString();
    EXPECT_TRUE(r.out.contains("r8brain Free: internal engine (r8brain Free row) converted"));
    EXPECT_TRUE(r.out.contains("SSRC Shibata: not measured, it cannot run here: ssrc_hp was "
                               "not found"));
    EXPECT_TRUE(r.out.contains(" *"));
    EXPECT_TRUE(r.out.contains("measurement floor"));
}

TEST(Measure, JsonHoldsEveryFigureOfEveryEngine) {
    auto env = kNoConverter;
    env["SONTEVA_SSRC"] = SONTEVA_FAKE_SSRC;
    const CliRun r = runCli({"measure", "--all", "--from", "192000", "-r", "48000", "--json"}, env);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonObject top = doc.object();
    EXPECT_EQ(top["from"].toInt(), 192000);
    EXPECT_EQ(top["to"].toInt(), 48000);
    const QJsonArray engines = top["engines"].toArray();
    ASSERT_EQ(engines.size(), 5);
    for (const QJsonValue& v : engines) {
        const QJsonObject e = v.toObject();
        ASSERT_TRUE(e["measured"].toBool()) << e["engine"].toString().toStdString();
        for (const char* part : {"figures", "floor"}) {
            const QJsonObject f = e[part].toObject();
            for (const char* key :
                 {"passbandRippleDb", "at099NyquistDb", "thdnDb", "latencyFrames",
                  "latencyFraction", "outputFrames", "expectedFrames", "lengthDifference"})
                EXPECT_TRUE(f[key].isDouble()) << part << "." << key;
            for (const char* band : {"aliasBelow09NyquistOut", "aliasFullBand", "aliasAudioBand"})
                EXPECT_TRUE(f[band].toObject()["dbfs"].isDouble()) << band;
            EXPECT_TRUE(f["linearPhase"].isBool());
            EXPECT_TRUE(f.contains("minus3dBHz"));
        }
        EXPECT_GT(e["response"].toArray().size(), 300);
        if (e["claimedLatencyFrames"].isDouble()) { // every claim holds, a stand-in's too
            EXPECT_NEAR(e["figures"]["latencyFrames"].toDouble(),
                        e["claimedLatencyFrames"].toDouble(), 1e-3)
                << e["engine"].toString().toStdString();
        }
    }
    EXPECT_TRUE(engines[0]["claimedLatencyFrames"].isDouble());
    EXPECT_TRUE(engines[3]["claimedLatencyFrames"].isDouble());
    const QJsonObject flagship = engines[0].toObject();
    EXPECT_EQ(flagship["ran"].toString(), "Sonteva SRC");
    EXPECT_NEAR(flagship["figures"]["passbandRippleDb"].toDouble(), 0.72, 0.05);
    EXPECT_EQ(engines[3].toObject()["ran"].toString(), "internal engine (r8brain Free row)");
    EXPECT_TRUE(engines[3].toObject()["substituted"].toBool());
    EXPECT_EQ(engines[4].toObject()["ran"].toString(), "SSRC Shibata");
}

TEST(Measure, AnEngineThatCannotRunFailsWithItsReason) {
    const CliRun r =
        runCli({"measure", "-a", "SSRC Shibata", "--from", "96000", "-r", "44100"}, kNoConverter);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("SSRC Shibata was not measured: ssrc_hp was not found"))
        << r.err.toStdString();
    const CliRun listing =
        runCli({"measure", "-a", "r8brain Free", "--from", "48000", "-r", "44100"});
    EXPECT_EQ(listing.status, 0);
    EXPECT_TRUE(listing.out.contains("what ran: internal engine (r8brain Free row)"));
    EXPECT_TRUE(listing.out.contains("[floor "));
}

// No display, no platform named: the command chooses its own.
CliRun runHeadless(const QStringList& args) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        e.remove(name);
    p.setProcessEnvironment(e);
    p.start(QStringLiteral(SONTEVA_CLI), args);
    return collect(p);
}

TEST(Measure, PlotIsAPngDrawnWithoutADisplay) {
    const TempDir dir;
    const QString png = q(dir.file("report.png"));
    const CliRun r = runHeadless(
        {"measure", "-a", "Zavir Iravizeza", "--from", "44100", "-r", "96000", "--plot", png});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(1600, 1200));
    // Drawn on: more than a handful of colours.
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 50u);
    const CliRun unwritable =
        runHeadless({"measure", "-a", "SoX VHQ", "--from", "44100", "-r", "48000", "--plot",
                     q(dir.file("missing/folder/report.png"))});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_TRUE(unwritable.err.contains("could not write the plot"))
        << unwritable.err.toStdString();
}

} // namespace
} // namespace sonteva::test
