// The habits sox, ffmpeg and the GNU tools taught, through the real binary: help for every
// command, one-line usage errors, --version, results alone on standard output (NDJSON
// with --json), values as people type them, and a preset store that cannot be muddled.
#include "cli_support.h"
#include "support/test_files.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace sonteva::test;

namespace {

const QStringList kCommands{"convert", "info", "presets", "engines",
                            "devices", "play", "demo",    "help"};

QStringList errLines(const CliRun& r) {
    return r.err.split('\n', Qt::SkipEmptyParts);
}

} // namespace

TEST(Conventions, EveryCommandHasItsHelpAndNeverTakesHelpAsAnArgument) {
    TempDir dir;
    for (const QString& command : kCommands) {
        SCOPED_TRACE(command.toStdString());
        const CliRun asked = runCli({command, "--help"});
        EXPECT_EQ(asked.status, 0);
        EXPECT_TRUE(asked.out.startsWith("Usage: sonteva " + command)) << asked.out.toStdString();
        EXPECT_TRUE(asked.out.contains(command == "help" ? "Example" : "-h, --help"));
        EXPECT_TRUE(asked.err.isEmpty()) << asked.err.toStdString();
        EXPECT_EQ(runCli({"help", command}).out, asked.out);
        EXPECT_EQ(runCli({command, "-h"}).out, asked.out);
    }
    // Wherever it stands before "--": as a folder, a file, an option's value.
    const std::string out = dir.file("out");
    for (const QStringList& args :
         {QStringList{"demo", q(out), "--help"}, QStringList{"demo", "--help", q(out)},
          QStringList{"convert", "-o", "--help", q(out)},
          QStringList{"convert", "-r", "99", "--help"}, QStringList{"presets", "save", "--help"}}) {
        const CliRun r = runCli(args);
        EXPECT_EQ(r.status, 0) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.startsWith("Usage: sonteva " + args[0]));
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists("--help"));
}

TEST(Conventions, OverviewVersionAndUsageErrors) {
    const CliRun overview = runCli({"help"});
    EXPECT_EQ(overview.status, 0);
    for (const QString& command : kCommands)
        EXPECT_TRUE(overview.out.contains("\n  " + command + " ")) << command.toStdString();
    EXPECT_EQ(runCli({"--help"}).out, overview.out);
    const CliRun bare = runCli({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.err, overview.out);
    EXPECT_TRUE(bare.out.isEmpty());

    const CliRun version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(QRegularExpression("^sonteva \\d+\\.\\d+\\.\\d+\n$").match(version.out).hasMatch())
        << version.out.toStdString();

    // One line naming the problem, one pointing to the command's help; never the usage.
    struct Case {
        QStringList args;
        QString problem;
        QString help;
    };
    const Case cases[] = {
        {{"convert", "--bogus", "a.wav"}, "unknown option --bogus", "sonteva convert --help"},
        {{"convert", "--json=yes", "a.wav"}, "unknown option --json=yes", "sonteva convert --help"},
        {{"convert", "-qx", "a.wav"}, "unknown option -qx", "sonteva convert --help"},
        {{"convert", "-r"}, "option -r needs a value", "sonteva convert --help"},
        {{"convert", "-r", "48000"}, "no input files given", "sonteva convert --help"},
        {{"info"}, "info needs at least one FILE", "sonteva info --help"},
        {{"presets", "rename"},
         "unknown presets action \"rename\" (accepted: list, save, delete)",
         "sonteva presets --help"},
        {{"engines", "extra"}, "engines takes no arguments", "sonteva engines --help"},
        {{"play", "--start", "-1", "a.wav"},
         "--start needs a number of seconds (0 or more)",
         "sonteva play --help"},
        {{"transmogrify"}, "unknown command \"transmogrify\"", "sonteva --help"},
        {{"--frobnicate"}, "unknown option --frobnicate", "sonteva --help"},
        {{"help", "nope"}, "unknown command \"nope\"", "sonteva --help"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = runCli(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(errLines(r), (QStringList{"sonteva: " + c.problem, "Try '" + c.help + "'."}));
        EXPECT_TRUE(r.out.isEmpty());
    }
}

TEST(Conventions, ValuesAsPeopleTypeThem) {
    TempDir dir;
    writeTake(dir.file("t.wav"));
    struct Case {
        QStringList options;
        std::string output;
    };
    const Case cases[] = {
        {{"-f", "FLAC", "-d", "tpdf", "-r44.1k"}, "t_44k_16b_Sonteva_TPDF.flac"},
        {{"--rate=96k", "-b", "24-BIT", "-a", "sox vhq", "-d", "NONE"}, "t_96k_24b_SoX.wav"},
        {{"-r", "88.2 kHz", "-b32F", "-a", "zavir iravizeza", "-f", "aif"},
         "t_88k_32fp_Swiss_TPDF.aiff"},
        {{"--rate", "48000Hz", "-d", "noise-shaping-high", "--bits=16"},
         "t_48k_16b_Sonteva_Noise Shaping High.wav"},
        {{"-r", "352.8k", "-b", "64-bit FP", "-a", "R8BRAIN FREE"}, "t_352k_64fp_r8brain_TPDF.wav"},
        {{"-r48k", "--postfix=", "-o" + q(dir.file("glued")), "-n"}, "glued/t.wav"},
    };
    fs::create_directory(dir.file("glued"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        const CliRun r = runCli(QStringList{"convert", "-q"} + c.options +
                                QStringList{"--", q(dir.file("t.wav"))});
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_TRUE(fs::exists(dir.file(c.output)));
    }
    // A refused value names what is accepted.
    const QString rates = "accepted: 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000";
    const std::vector<std::pair<QStringList, QString>> refused = {
        {{"-r", "48"}, rates},
        {{"-r", "44.1"}, rates},
        {{"-r", "44.12k"}, rates},
        {{"-r", "47999"}, rates},
        {{"-r", "48000.5"}, rates},
        {{"-r", "k"}, rates},
        {{"-r", "-48k"}, rates},
        {{"-r", "48kk"}, rates},
        {{"-r", "1e5"}, rates},
        {{"-r", "0x2b11"}, rates},
        {{"-r", "44.10001k"}, rates},
        {{"-r", ""}, rates},
        {{"-b", "20"}, "16, 24, 32, 32f, 64f"},
        {{"-b", "32fbit"}, "16, 24, 32, 32f, 64f"},
        {{"-a", "best"}, "\"Sonteva SRC\", \"Zavir Iravizeza\""},
        {{"-d", "shaped"}, "\"Noise Shaping Low\""},
        {{"-f", "mp3"}, "wav, aiff, flac"},
    };
    for (const auto& [option, said] : refused) {
        SCOPED_TRACE(option.join(' ').toStdString());
        const CliRun r =
            runCli(QStringList{"convert"} + option + QStringList{q(dir.file("t.wav"))});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains(said)) << r.err.toStdString();
    }
}

// Standard output carries results only: job lines and the summary, or NDJSON with --json;
// messages name files by their paths.
TEST(Conventions, StandardOutputCarriesResultsOnly) {
    TempDir dir;
    writeTake(dir.file("good.wav"));
    const QStringList files{q(dir.file("good.wav")), q(dir.file("missing.wav"))};
    const CliRun json = runCli(QStringList{"convert", "--json"} + files);
    EXPECT_EQ(json.status, 1);
    const QStringList records = json.lines();
    ASSERT_EQ(records.size(), 2) << json.out.toStdString();
    QJsonParseError error;
    const QJsonObject failure = QJsonDocument::fromJson(records[0].toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_EQ(failure.keys(), (QStringList{"error", "index", "source", "status"}));
    EXPECT_EQ(failure["source"].toString(), q(dir.file("missing.wav")));
    EXPECT_EQ(failure["status"].toString(), "error");
    const QJsonObject job = QJsonDocument::fromJson(records[1].toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_EQ(job["status"].toString(), "done");
    EXPECT_FALSE(job["replaced"].toBool());
    EXPECT_TRUE(json.err.contains("sonteva: Failed to load " + q(dir.file("missing.wav")) + ": "));

    const CliRun plain = runCli(QStringList{"convert"} + files);
    EXPECT_EQ(plain.status, 1);
    const QStringList lines = plain.lines();
    ASSERT_EQ(lines.size(), 2) << plain.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("done    good.wav \u2192 ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("(replaced)"));
    EXPECT_EQ(lines[1], "Batch finished \u2014 1 done, 1 failed.");
    for (const QString& line : errLines(plain))
        EXPECT_TRUE(line.startsWith("sonteva: ") || line.startsWith("Added "))
            << line.toStdString();
    for (const CliRun* r : {&json, &plain})
        EXPECT_FALSE((r->out + r->err).contains("file://"));
}

TEST(Conventions, PresetNamesSayWhichPresetIsMeant) {
    TempDir config, dir;
    const std::map<QString, QString> home{{"XDG_CONFIG_HOME", q(config.path())}};
    auto save = [&](const QStringList& args) {
        return runCli(QStringList{"presets", "save"} + args, home);
    };
    EXPECT_EQ(save({"Client A", "-r", "48k", "-b", "24"}).status, 0);
    struct Refusal {
        QStringList args;
        QString message;
    };
    const Refusal refusals[] = {
        {{""}, "sonteva: a preset needs a name"},
        {{"   "}, "sonteva: a preset needs a name"},
        {{"cd master"}, "sonteva: \"CD Master\" is the name of a built-in preset; choose another"},
        {{"Client A", "-r", "96k"},
         "sonteva: a user preset named \"Client A\" exists already (use --replace to replace it)"},
        {{" client a "},
         "sonteva: a user preset named \" client a \" exists already (use --replace to replace "
         "it)"},
    };
    for (const Refusal& r : refusals) {
        const CliRun run = save(r.args);
        EXPECT_EQ(run.status, 1) << r.args.join('|').toStdString();
        EXPECT_EQ(run.err.trimmed(), r.message);
    }
    const CliRun replaced = save(
        {"--replace", "Client A", "-r", "96k", "-b", "24", "-a", "Zavir Iravizeza", "-d", "none"});
    EXPECT_EQ(replaced.status, 0) << replaced.err.toStdString();
    // Listed once; "*" marks the preset the given options amount to.
    const CliRun list = runCli(
        {"presets", "list", "-r", "96k", "-b", "24", "-a", "Zavir Iravizeza", "-d", "None"}, home);
    EXPECT_EQ(list.out.count("Client A  ("), 1) << list.out.toStdString();
    EXPECT_TRUE(list.out.contains("* Client A  (96 kHz, 24-bit, Zavir Iravizeza, None, WAV)"))
        << list.out.toStdString();
    EXPECT_TRUE(list.out.contains("  CD Master  (44.1 kHz, 16-bit, Sonteva SRC, TPDF, WAV)"));
    EXPECT_TRUE(runCli({"presets", "list"}, home).out.contains("* CD Master"));
    // --preset takes the replacement, in any case, under the options given beside it.
    writeTake(dir.file("t.wav"));
    EXPECT_EQ(runCli({"convert", "-q", "-p", "client a", "-f", "flac", q(dir.file("t.wav"))}, home)
                  .status,
              0);
    EXPECT_TRUE(fs::exists(dir.file("t_96k_24b_Swiss.flac")));
    const CliRun unknown = runCli({"convert", "--preset", "Nope", q(dir.file("t.wav"))}, home);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.err.contains("\"Hi Res\"")) << unknown.err.toStdString();
    EXPECT_EQ(runCli({"presets", "delete", "Client A"}, home).status, 0);
    EXPECT_EQ(runCli({"presets", "delete", "Client A"}, home).status, 1);
    EXPECT_EQ(runCli({"engines"}).lines().size(), 5);
    const CliRun builtIn = runCli({"presets", "delete", "Hi Res"}, home);
    EXPECT_EQ(builtIn.status, 1);
    EXPECT_EQ(builtIn.err.trimmed(),
              "sonteva: \"Hi Res\" is a built-in preset and cannot be deleted");
}
