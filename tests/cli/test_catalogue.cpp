// Catalogue runs through the real command line: manifests refused line by line before
// anything runs, shards that together render every job once, resumption after a task is
// killed outright, deliverables redone exactly when their record no longer vouches for
// them, merged reports, and the GNU parallel recipe run on this machine.
#include "catalogue_support.h"
#include "cli_support.h"
#include "support/test_files.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace sonteva::test;
namespace fs = std::filesystem;

namespace {

QJsonObject reportJson(const QStringList& files, int* status = nullptr) {
    const CliRun r = runCli(QStringList{"report", "--json"} + files);
    if (status) *status = r.status;
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

std::vector<QJsonObject> reportLines(const std::string& path) {
    CliRun lines;
    lines.out = q(slurp(path));
    return lines.records();
}

} // namespace

// Every line of a manifest is checked before anything runs, and each bad one is named with
// its number and what is wrong: in how it is written or in what it asks for.
TEST(Catalogue, ABadManifestStopsEverythingAndNamesEachLine) {
    TempDir dir;
    writeMaster(dir.file("a.wav"), 48000, 2, 0.2, SF_FORMAT_PCM_24, 1);
    const std::vector<std::pair<std::string, QString>> bad = {
        {"a.wav\trate=12345", "unknown rate \"12345\""},
        {"a.wav\tpreset=\"No Such Preset\"", "unknown preset \"No Such Preset\""},
        {"a.wav\tbits=24 strict=perhaps", "\"perhaps\" is not yes or no"},
        {"a.wav\talgorithm=\"Best Engine\"", "unknown algorithm \"Best Engine\""},
        {"a.wav\tformat=mp3 dither=TPDF", "unknown format \"mp3\""},
        {"a.wav\tspeed=2", "unknown setting \"speed\""},
        {"a.wav\trate=48000 rate=44100", "\"rate\" is set twice"},
        {"a.wav\trate=48000 out=x output-dir=y", "\"out\" is set twice"},
        {"a.wav\trate", "\"rate\" is not a key=value setting"},
        {"a.wav\trate=", "\"rate\" has no value"},
        {"a.wav\tpreset=\"Hi Res", "not closed"},
        {"a.wav\tpreset=Hi\"Res\"", "stray quote"},
        {"a.wav\tpreset=\"Hi\"Res", "without a space"},
        {"\trate=48000", "no source path"},
        {"a.wav rate=48000 bits=24", "after a tab"},
        {"a.wav\t=48000", "unknown setting \"\""},
        {std::string("a\0.wav", 6), "NUL"},
        {"a\xff\xfe.wav", "not valid UTF-8"},
    };
    std::string manifest = "# a comment, then a good line\r\na.wav\trate=48000\r\n";
    for (const auto& [line, said] : bad)
        manifest += line + "\n";
    put(dir.file("m.tsv"), manifest);
    const CliRun r = runCli({"convert", "--manifest", q(dir.file("m.tsv"))});
    EXPECT_EQ(r.status, 2);
    const QString prefix = "sonteva: " + q(dir.file("m.tsv")) + ":";
    QStringList named;
    for (const QString& line : r.err.split('\n'))
        if (line.startsWith(prefix)) named << line.mid(prefix.size());
    ASSERT_EQ(named.size(), qsizetype(bad.size())) << r.err.toStdString();
    for (size_t i = 0; i < bad.size(); ++i) {
        EXPECT_TRUE(named[i].startsWith(QString::number(i + 3) + ": ")) << named[i].toStdString();
        EXPECT_TRUE(named[i].contains(bad[i].second)) << named[i].toStdString();
    }
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.wav", "m.tsv"}));

    struct Case {
        QStringList args;
        const char* said;
    };
    const std::vector<Case> refused = {
        {{"convert", "--manifest", q(dir.file("missing.tsv"))}, "cannot read the manifest"},
        {{"convert", "--manifest", q(dir.file("m.tsv")), q(dir.file("a.wav"))}, "not both"},
        {{"convert", "--shard", "4/4", q(dir.file("a.wav"))}, "0 to 3"},
        {{"convert", "--shard", "1", q(dir.file("a.wav"))}, "K/N"},
        {{"convert", "--shard", "-1/4", q(dir.file("a.wav"))}, "K/N"},
        {{"convert", "--report", q(dir.file("no/folder/r.ndjson")), q(dir.file("a.wav"))},
         "cannot write the report"},
        {{"report"}, "no report files"},
        {{"report", "--html", "x"}, "unknown option"},
    };
    for (const Case& c : refused) {
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.status, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(c.said)) << run.err.toStdString();
    }
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.wav", "m.tsv"}));
}

// Paths in a manifest are the manifest's own, wherever sonteva runs from; a preset on a
// line stands for its whole recipe, other settings override the command line's. The lines
// are written as people and scripts write them: a byte-order mark, CRLF, blank and
// indented lines, comments, keys in capitals, quotes and escapes, no newline at the end.
TEST(Catalogue, LinesCarryTheirOwnRecipes) {
    TempDir dir, elsewhere;
    fs::create_directories(dir.file("masters/Side A"));
    fs::create_directories(dir.file("out"));
    writeMaster(dir.file("masters/Side A/01 Intro.wav"), 96000, 2, 0.3, SF_FORMAT_PCM_24, 1);
    put(dir.file("m.tsv"),
        "\xEF\xBB\xBF# delivery\r\n"
        "masters/Side A/01 Intro.wav\r\n"
        "\n"
        "   \t  \n"
        "  # indented comment\n"
        "  masters/Side A/01 Intro.wav  \tPRESET=\"Streaming\"  output-dir=out\n"
        "#masters/gone.wav\n"
        "masters/Side A/01 Intro.wav\tbits=16 postfix=\"_for \\\"radio\\\" \\\\ x\" out=out # ok\n"
        "masters/Side A/01 Intro.wav\tstrict=yes postfix=\"\" out=out");
    QProcess p;
    p.setWorkingDirectory(q(elsewhere.path()));
    startCli(p,
             {"convert", "-r", "88200", "-b", "24", "--json", "--manifest", q(dir.file("m.tsv"))});
    const CliRun r = collect(p);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const auto info = [&](const std::string& name) { return readFile(dir.file(name)).info; };
    EXPECT_EQ(info("masters/Side A/01 Intro_88k_24b_Sonteva_TPDF.wav").samplerate, 88200);
    EXPECT_EQ(info("out/01 Intro_48k_24b_Sonteva.wav").samplerate, 48000);
    EXPECT_EQ(info("out/01 Intro_48k_24b_Sonteva.wav").format & SF_FORMAT_SUBMASK,
              SF_FORMAT_PCM_24);
    EXPECT_EQ(info("out/01 Intro_for \"radio\" \\ x.wav").samplerate, 88200);
    EXPECT_EQ(info("out/01 Intro_for \"radio\" \\ x.wav").format & SF_FORMAT_SUBMASK,
              SF_FORMAT_PCM_16);
    EXPECT_EQ(info("out/01 Intro.wav").samplerate, 88200);
    EXPECT_TRUE(elsewhere.entries().empty());
}

// However many tasks, together they write every deliverable exactly once; a task with
// nothing to do succeeds.
TEST(Catalogue, ShardsTogetherDeliverEveryJobOnce) {
    TempDir dir;
    const Catalogue catalogue = makeCatalogue(dir.path(), 7);
    const std::string manifest = catalogue.manifest("deliver");
    for (int n : {1, 3, 7, 9}) {
        SCOPED_TRACE(n);
        fs::remove_all(dir.file("deliver"));
        catalogue.manifest("deliver");
        std::map<std::string, int> writers;
        for (int k = 0; k < n; ++k) {
            const std::string report = dir.file("r-" + std::to_string(n) + ".ndjson");
            const CliRun r = runCli({"convert", "--manifest", q(manifest), "--shard",
                                     QStringLiteral("%1/%2").arg(k).arg(n), "--report", q(report)});
            EXPECT_EQ(r.status, 0) << r.err.toStdString();
            EXPECT_TRUE(r.out.startsWith(QStringLiteral("Shard %1/%2: ").arg(k).arg(n)))
                << r.out.toStdString();
        }
        for (const QJsonObject& line :
             reportLines(dir.file("r-" + std::to_string(n) + ".ndjson"))) {
            EXPECT_EQ(line["status"].toString(), "done");
            ++writers[line["output"].toString().toStdString()];
        }
        EXPECT_EQ(writers.size(), 7u);
        for (const auto& [output, count] : writers)
            EXPECT_EQ(count, 1) << output;
        EXPECT_EQ(deliveredFiles(dir.file("deliver")).size(), 7u);
    }
}

// Only a deliverable whose record still describes it, its source and its recipe is skipped;
// everything else is redone, and says why.
TEST(Catalogue, SkipDoneRedoesExactlyWhatItCannotVouchFor) {
    TempDir dir;
    writeMaster(dir.file("a.wav"), 96000, 2, 0.3, SF_FORMAT_PCM_24, 1);
    writeMaster(dir.file("b.wav"), 44100, 1, 0.3, SF_FORMAT_PCM_16, 2);
    const std::string a = dir.file("a_delivery.wav"), b = dir.file("b_delivery.wav");
    auto run = [&](const QStringList& extra = {}) {
        return runCli(QStringList{"convert", "--skip-done", "--postfix", "_delivery", "--json",
                                  q(dir.file("a.wav")), q(dir.file("b.wav"))} +
                      extra);
    };
    // What the run says of a.wav and of b.wav.
    auto statuses = [](const CliRun& r) {
        std::map<QString, QString> s;
        for (const QJsonObject& o : r.records()) {
            s[QFileInfo(o["source"].toString()).fileName()] = o["status"].toString();
        }
        return s["a.wav"] + " " + s["b.wav"];
    };
    // Each change, then what the next run redoes and why.
    const auto expectRun = [&](const QStringList& extra, const QString& expected, const char* why) {
        SCOPED_TRACE(expected.toStdString() + ", " + why);
        const CliRun r = run(extra);
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(statuses(r), expected);
        EXPECT_TRUE(r.err.contains(why)) << r.err.toStdString();
    };
    expectRun({}, "done done", "");
    ASSERT_TRUE(fs::exists(a + ".sonteva.json"));
    const auto written = fs::last_write_time(a);
    expectRun({}, "skipped skipped",
              "Batch completed successfully \u2014 0 files written, 2 already delivered.");
    EXPECT_EQ(fs::last_write_time(a), written);
    fs::last_write_time(dir.file("a.wav"), fs::file_time_type::clock::now());
    expectRun({}, "done skipped", "its source has changed");
    put(b, slurp(b).substr(0, 100));
    expectRun({}, "skipped done", "it has changed since");
    fs::remove(a + ".sonteva.json");
    expectRun({}, "done skipped", "no record");
    expectRun({"-d", "None"}, "done done", "another dither (\"TPDF\", not \"None\")");
    fs::remove(b);
    expectRun({"-d", "None"}, "skipped done", "");
    EXPECT_EQ(
        namesIn(dir.path()),
        (std::set<std::string>{"a.wav", "b.wav", "a_delivery.wav", "b_delivery.wav",
                               "a_delivery.wav.sonteva.json", "b_delivery.wav.sonteva.json"}));
}

// A task killed outright in the middle of a job leaves its temporary file; run again, it
// finishes the rest, redoes the interrupted job and leaves nothing behind, while a file
// still being written by someone else is left alone.
TEST(Catalogue, AKilledTaskRunAgainFinishesAndLeavesNothingBehind) {
    TempDir dir;
    const Catalogue catalogue = makeCatalogue(dir.path(), 4, 20.0);
    const std::string manifest = catalogue.manifest("deliver");
    const std::string longFolder = dir.file("deliver/long");
    const std::string report = dir.file("report.ndjson");
    // One job at a time: the long master is the one being written when the task dies.
    const QStringList args{"convert",  "--manifest", q(manifest), "--skip-done",
                           "--report", q(report),    "--jobs",    "1"};
    // Someone else's output in progress: a temporary file whose writer holds its lock.
    const std::string foreign = longFolder + "/.a-long_44k_16b_Sonteva_TPDF.wav.zzzzzz.part";
    const int held = ::open(foreign.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(held, F_OFD_SETLK, &lock), 0);

    const int watch = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(watch, longFolder.c_str(), IN_CREATE);
    QProcess p;
    startCli(p, args);
    ASSERT_TRUE(cli_detail::awaitPartFile(watch));
    ::close(watch);
    ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
    p.waitForFinished(30000);
    EXPECT_EQ(namesIn(longFolder).size(), 2u); // its own temporary file and the foreign one
    EXPECT_TRUE(deliveredFiles(dir.file("deliver")).empty());

    const CliRun resumed = runCli(args);
    EXPECT_EQ(resumed.status, 0) << resumed.err.toStdString();
    EXPECT_EQ(deliveredFiles(dir.file("deliver")).size(), 4u);
    EXPECT_EQ(namesIn(longFolder),
              (std::set<std::string>{"a-long_44k_16b_Sonteva_TPDF.wav",
                                     "a-long_44k_16b_Sonteva_TPDF.wav.sonteva.json",
                                     ".a-long_44k_16b_Sonteva_TPDF.wav.zzzzzz.part"}));
    ::close(held);
    const CliRun third = runCli(args);
    EXPECT_TRUE(third.err.contains("Added 0 jobs \u2014 0 in queue, 0 pending; 4 already "
                                   "delivered."))
        << third.out.toStdString();
    EXPECT_FALSE(fs::exists(foreign)); // abandoned now
    int status = 0;
    const QJsonObject s = reportJson({q(report)}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(s["done"].toInt(), 4);
    EXPECT_EQ(s["records"].toInt(), 8);
}

// A failed job is listed with its reason and fails the merge; a line cut short by a killed
// task is left out and said; an unreadable report fails the merge.
TEST(Catalogue, ReportSaysWhatFailedAndWhatWasCutShort) {
    TempDir dir;
    writeMaster(dir.file("good.wav"), 48000, 2, 0.3, SF_FORMAT_PCM_24, 1);
    put(dir.file("bad.wav"), wav(tone(4800)).substr(0, 60));
    put(dir.file("m.tsv"), "good.wav\nbad.wav\nmissing.wav\n");
    const std::string r0 = dir.file("r0.ndjson"), r1 = dir.file("r1.ndjson");
    runCli({"convert", "--manifest", q(dir.file("m.tsv")), "--shard", "0/2", "--report", q(r0)});
    runCli({"convert", "--manifest", q(dir.file("m.tsv")), "--shard", "1/2", "--report", q(r1)});
    put(r1, slurp(r1) + "{\"job\":\"x\",\"status\":\"do");
    const CliRun text = runCli({"report", q(r0), q(r1)});
    EXPECT_EQ(text.status, 1);
    EXPECT_TRUE(text.out.contains("Done: 1, skipped: 0, failed: 2.")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(q(dir.file("missing.wav")) + ": Failed to load: "))
        << text.out.toStdString();
    EXPECT_TRUE(text.err.contains(q(r1) + ":")) << text.err.toStdString();
    EXPECT_TRUE(text.err.contains("cut short")) << text.err.toStdString();
    int status = 0;
    const QJsonObject s = reportJson({q(r0), q(r1), q(dir.file("nope.ndjson"))}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(s["jobs"].toInt(), 3);
    EXPECT_EQ(s["failures"].toArray().size(), 2);
    EXPECT_EQ(s["problems"].toArray().size(), 2);
}

// The GNU parallel recipe, with this machine as its only host: every deliverable once, the
// same bytes as a plain run; run again, everything is found delivered.
TEST(Catalogue, GnuParallelRecipeDeliversTheCatalogue) {
    if (QStandardPaths::findExecutable("parallel").isEmpty())
        GTEST_SKIP() << "GNU parallel is not installed (scripts/install-deps installs it)";
    TempDir dir;
    const Catalogue catalogue = makeCatalogue(dir.path(), 8);
    ASSERT_EQ(runCli({"convert", "-q", "--manifest", q(catalogue.manifest("local"))}).status, 0);
    const std::string manifest = catalogue.manifest("deliver");
    put(dir.file("hosts"), "2/:\n");
    auto recipe = [&] {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("SONTEVA", SONTEVA_CLI);
        env.insert("HOME", q(dir.path())); // parallel keeps its own files there
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(q(dir.path()));
        p.start(SONTEVA_SOURCE_DIR "/contrib/parallel/sonteva-parallel.sh",
                {"-S", q(dir.file("hosts")), "manifest-deliver.tsv", "reports", "3", "-q"});
        p.closeWriteChannel();
        return collect(p);
    };
    const CliRun first = recipe();
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    EXPECT_EQ(deliveredFiles(dir.file("deliver")), deliveredFiles(dir.file("local")));
    EXPECT_EQ(recipe().status, 0);
    QStringList reports;
    for (int k = 0; k < 3; ++k)
        reports << q(dir.file("reports/shard-" + std::to_string(k) + "-of-3.ndjson"));
    const QJsonObject s = reportJson(reports);
    EXPECT_EQ(s["jobs"].toInt(), 8);
    EXPECT_EQ(s["done"].toInt(), 8);
    EXPECT_EQ(s["records"].toInt(), 16);
}
