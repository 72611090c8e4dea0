// Catalogue runs below the command line (the command line's tests read and refuse the
// manifests): shards that must partition the jobs whatever the order of the lines, report
// lines appended by many writers at once and merged after kills and reruns, resume records
// that must never vouch for a file they do not describe, and temporary files of killed
// writers told apart from those of live ones.
#include "audio_io/part_file.h"
#include "batch/catalogue.h"
#include "batch/catalogue_report.h"
#include "batch/resume_record.h"
#include "batch_support.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <set>
#include <thread>

using namespace sonteva;
using namespace sonteva::test;

namespace {

using Settings = std::vector<std::pair<QString, QString>>;

} // namespace

// The shard a task is given on its command line: K/N and nothing else.
TEST(Shards, ParseOnlyKOfN) {
    QString why;
    for (const char* good : {"0/1", "3/4", "0/1000"})
        EXPECT_TRUE(parseShard(good, why)) << good;
    for (const char* bad : {"4/4", "5/4", "0/0", "-1/4", "1/-4", "1", "", "1//4", " 1/4", "1/4 ",
                            "a/b", "1.0/4", "1/4/5", "99999999999/99999999999"}) {
        why.clear();
        EXPECT_FALSE(parseShard(bad, why)) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }
}

// N tasks cover every job exactly once for any N (a repeated line is the same job), shards
// differ by one job at most, and a shard holds the same jobs however the lines were
// ordered (a manifest written by `find` on another machine lists the same files in
// another order).
TEST(Shards, PartitionTheJobsWhateverTheOrderOfTheLines) {
    std::vector<CatalogueEntry> entries;
    for (int i = 0; i < 23; ++i)
        entries.push_back({i + 1, QStringLiteral("m/%1.wav").arg(i % 17, 2, 10, QChar('0')),
                           i < 17 ? Settings{} : Settings{{"rate", "48000"}, {"bits", "24"}}});
    entries.push_back({24, "M/00.wav", {}});
    // The same jobs again, settings in another order: each job runs once.
    const size_t distinct = entries.size();
    entries.push_back({25, "m/00.wav", {}});
    entries.push_back({26, "m/01.wav", {{"bits", "24"}, {"rate", "48000"}}});
    entries.push_back({27, "m/01.wav", {{"rate", "48000"}, {"bits", "24"}}});
    ASSERT_EQ(entries[17].source, "m/00.wav");
    auto job = [](const CatalogueEntry& e) {
        QString s = e.source;
        auto settings = e.settings;
        std::sort(settings.begin(), settings.end());
        for (const auto& [k, v] : settings)
            s += "|" + k + "=" + v;
        return s.toStdString();
    };
    std::set<std::string> all;
    for (const auto& e : entries)
        all.insert(job(e));
    ASSERT_EQ(all.size(), distinct);
    // The lines in another order and numbered anew, as in a manifest written again.
    std::vector<CatalogueEntry> shuffled = entries;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(11));
    for (size_t i = 0; i < shuffled.size(); ++i)
        shuffled[i].line = static_cast<int>(i + 1);
    for (int n = 1; n <= static_cast<int>(entries.size()) + 3; ++n) {
        std::multiset<std::string> covered;
        size_t smallest = entries.size(), largest = 0;
        for (int k = 0; k < n; ++k) {
            const auto mine = shardOf(entries, {k, n});
            const auto theirs = shardOf(shuffled, {k, n});
            ASSERT_EQ(mine.size(), theirs.size());
            for (size_t i = 0; i < mine.size(); ++i) {
                covered.insert(job(entries[mine[i]]));
                EXPECT_EQ(job(entries[mine[i]]), job(shuffled[theirs[i]])) << n << " " << k;
            }
            smallest = std::min(smallest, mine.size());
            largest = std::max(largest, mine.size());
        }
        EXPECT_EQ(covered, std::multiset<std::string>(all.begin(), all.end())) << "N = " << n;
        EXPECT_LE(largest - smallest, 1u) << "N = " << n;
    }
    // The first line stands for a repeated job.
    for (size_t i : jobOrder(entries))
        EXPECT_LE(entries[i].line, static_cast<int>(distinct)) << i;
}

namespace {

ReportRecord record(const QString& job, const QString& status, int finishedSecond,
                    double audio = 60) {
    ReportRecord r;
    r.job = job;
    r.status = status;
    r.source = "/m/" + job + ".wav";
    r.output = "/d/" + job + ".wav";
    r.error = status == "failed" ? "Source ended early" : "";
    r.seconds = 2;
    r.audioSeconds = audio;
    r.finished = QDateTime::fromSecsSinceEpoch(1700000000 + finishedSecond, Qt::UTC);
    r.started = r.finished.addSecs(-2);
    r.shard = "0/2";
    return r;
}

} // namespace

TEST(Reports, MergeByTheLastWordOnEachJob) {
    TempDir dir;
    const std::string a = dir.file("shard-0.ndjson"), b = dir.file("shard-1.ndjson");
    // Run 1: a done, b failed, c done, e killed while its line was written.
    // Run 2 (later): a skipped, b done, c failed, d skipped only.
    put(a, (reportLine(record("a", "done", 10)) + reportLine(record("b", "failed", 11)) +
            reportLine(record("a", "skipped", 100)) + reportLine(record("b", "done", 110)))
               .toStdString());
    put(b, (reportLine(record("c", "done", 12)) + reportLine(record("d", "skipped", 101)) +
            reportLine(record("c", "failed", 120)))
                   .toStdString() +
               "{\"job\":\"e\",\"status\":\"do");
    const ReportSummary s =
        summarizeReports({QString::fromStdString(a), QString::fromStdString(b), "/nonexistent/r"});
    EXPECT_EQ(s.files, 2);
    EXPECT_EQ(s.records, 7);
    EXPECT_EQ(s.jobs, 4);
    EXPECT_EQ(s.done, 2);    // a (done, then found delivered), b (failed, then done)
    EXPECT_EQ(s.skipped, 1); // d
    EXPECT_EQ(s.failed, 1);  // c
    EXPECT_EQ(s.superseded, 3);
    ASSERT_EQ(s.failures.size(), 1u);
    EXPECT_EQ(s.failures[0].source, "/m/c.wav");
    EXPECT_EQ(s.failures[0].error, "Source ended early");
    EXPECT_DOUBLE_EQ(s.deliveredAudioSeconds, 180);
    EXPECT_DOUBLE_EQ(s.renderedAudioSeconds, 120);
    EXPECT_DOUBLE_EQ(s.jobSeconds, 14);
    EXPECT_EQ(s.firstStart.secsTo(s.lastFinish), 120 - 10 + 2);
    ASSERT_EQ(s.damaged.size(), 1u);
    EXPECT_EQ(s.damaged[0].line, 4);
    EXPECT_TRUE(s.damaged[0].text.contains("cut short"));
    ASSERT_EQ(s.unreadable.size(), 1u);
}

TEST(Reports, RecordsSurviveTheRoundTrip) {
    ReportRecord r = record("x", "failed", 5);
    r.source = "/m/Side A/\"quoted\" \u00e9.wav";
    r.notes = QStringList{"one", "two\nlines"};
    r.host = "node-7";
    r.pid = 4242;
    const QByteArray line = reportLine(r);
    EXPECT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(line.count('\n'), 1);
    QString why;
    const auto back = parseReportLine(line.chopped(1), why);
    ASSERT_TRUE(back) << why.toStdString();
    EXPECT_EQ(back->source, r.source);
    EXPECT_EQ(back->notes, r.notes);
    EXPECT_EQ(back->finished, r.finished);
    EXPECT_EQ(back->pid, 4242);
    for (const char* bad :
         {"[]", "{}", "{\"status\":\"done\"}", "{\"status\":\"odd\",\"source\":\"a\"}", "null"})
        EXPECT_FALSE(parseReportLine(QByteArray(bad), why)) << bad;
}

// Many writers at once, each record larger than a pipe's atomic size, into one file: every
// record arrives whole, once, on its own line, also after a writer that was cut short.
TEST(Reports, AppendsFromManyWritersStayWhole) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.file("shared.ndjson"));
    put(path.toStdString(), "{\"job\":\"killed\",\"sta"); // a task killed mid-line
    constexpr int kWriters = 8, kEach = 40;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < kEach; ++i) {
                ReportRecord r = record(QStringLiteral("w%1-%2").arg(w).arg(i), "done", i);
                r.notes = QStringList{QString(6000, QChar('a' + w))};
                appendReportLine(path, reportLine(r));
            }
        });
    for (auto& t : writers)
        t.join();
    const ReportSummary s = summarizeReports({path});
    EXPECT_EQ(s.records, kWriters * kEach);
    EXPECT_EQ(s.jobs, kWriters * kEach);
    ASSERT_EQ(s.damaged.size(), 1u);
    EXPECT_EQ(s.damaged[0].line, 1);
    EXPECT_THROW(
        appendReportLine(QString::fromStdString(dir.file("no/such/folder.ndjson")), "{}\n"),
        std::runtime_error);
}

namespace {

// A deliverable, its job and its record as a finished catalogue job leaves them.
struct Delivered {
    TempDir dir;
    std::string source = dir.file("take.wav");
    ConversionJob job;
    FileFingerprint fingerprint;
    JobOutcome outcome;

    Delivered() {
        writeFile(source, musicLike(2, 4800, 48000), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
        job = jobFor(source, 44100, BitDepth::int16, "TPDF");
        put(output(), "RIFF a deliverable of some sort");
        fingerprint = *fingerprintFile(QString::fromStdString(source));
        outcome.succeeded = true;
        outcome.engine = kSontevaSRC;
        writeResumeRecord(job, fingerprint, outcome);
    }
    std::string output() const { return job.outputUrl().toLocalFile().toStdString(); }
    std::string recordPath() const { return output() + ".sonteva.json"; }
    ResumeCheck check() const {
        return checkDelivered(job, *fingerprintFile(QString::fromStdString(source)));
    }
    void editRecord(const std::function<void(QJsonObject&)>& edit) const {
        QJsonObject o =
            QJsonDocument::fromJson(QByteArray::fromStdString(slurp(recordPath()))).object();
        edit(o);
        put(recordPath(), QJsonDocument(o).toJson().toStdString());
    }
};

void setTimes(const std::string& path, const timespec& t) {
    const timespec times[2] = {t, t};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

timespec mtimeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtim;
}

} // namespace

// (The command line's tests touch the source, damage the deliverable, lose the record and
// change the dither.)
TEST(ResumeRecords, VouchOnlyForTheFileBesideThem) {
    struct Case {
        const char* what;
        std::function<void(Delivered&)> change;
        const char* redo; // empty: still done
    };
    const std::vector<Case> cases = {
        {"nothing changed", [](Delivered&) {}, ""},
        {"source's last byte changed, size and time kept",
         [](Delivered& d) {
             const timespec t = mtimeOf(d.source);
             std::string bytes = slurp(d.source);
             bytes.back() ^= 1;
             put(d.source, bytes);
             setTimes(d.source, t);
         },
         "source has changed"},
        {"deliverable replaced by one of the same size and time",
         [](Delivered& d) {
             const timespec t = mtimeOf(d.output());
             put(d.output(), "RIFF a deliverable of other sort");
             setTimes(d.output(), t);
         },
         "changed since it was written"},
        {"record damaged", [](Delivered& d) { put(d.recordPath(), "{\"record\": \"sonteva res"); },
         "damaged"},
        {"another word length", [](Delivered& d) { d.job.bitDepth = BitDepth::int24; },
         "another bitDepth (\"16\", not \"24\")"},
        {"another engine", [](Delivered& d) { d.job.quality = "SoX VHQ"; }, "another algorithm"},
        {"delay compensated", [](Delivered& d) { d.job.compensateDelay = true; },
         "another compensateDelay"},
        {"strict", [](Delivered& d) { d.job.strict = true; }, "another strict"},
        {"another version",
         [](Delivered& d) { d.editRecord([](QJsonObject& o) { o["sonteva"] = "0.0.1"; }); },
         "written by Sonteva 0.0.1"},
        {"another source",
         [](Delivered& d) {
             d.editRecord([](QJsonObject& o) {
                 QJsonObject source = o["source"].toObject();
                 source["path"] = "/elsewhere/take.wav";
                 o["source"] = source;
             });
         },
         "another source (/elsewhere/take.wav)"},
        {"a stand-in ran where the engine is missing; it still is",
         [](Delivered& d) {
             d.editRecord([](QJsonObject& o) {
                 QJsonObject ran = o["ran"].toObject();
                 ran["substituted"] = true;
                 o["ran"] = ran;
             });
         },
         ""},
        {"a stand-in ran where the engine was missing; it runs here",
         [](Delivered& d) {
             d.editRecord([](QJsonObject& o) {
                 QJsonObject ran = o["ran"].toObject();
                 ran["substituted"] = true;
                 o["ran"] = ran;
                 QJsonObject engines = o["engines"].toObject();
                 engines["Sonteva SRC"] = false;
                 o["engines"] = engines;
             });
         },
         "an engine missing where it was written runs here"},
        {"a faithful deliverable, the engine missing where it was written",
         [](Delivered& d) {
             d.editRecord([](QJsonObject& o) {
                 QJsonObject engines = o["engines"].toObject();
                 engines["Sonteva SRC"] = false;
                 o["engines"] = engines;
             });
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Delivered d;
        c.change(d);
        const ResumeCheck check = d.check();
        EXPECT_EQ(check.done, std::string(c.redo).empty()) << check.redo.toStdString();
        EXPECT_TRUE(check.redo.contains(c.redo)) << check.redo.toStdString();
    }
    // No deliverable: nothing to skip and nothing to explain.
    Delivered d;
    fs::remove(d.output());
    EXPECT_FALSE(d.check().done);
    EXPECT_TRUE(d.check().redo.isEmpty());
}

// A writer killed outright leaves its hidden temporary file; the next run removes it, and
// only it: not a live writer's (which goes on to deliver), nor a file that merely looks
// alike.
TEST(ResumeRecords, AbandonedTemporariesGoLiveOnesStay) {
    TempDir dir;
    const std::string target = dir.file("out.wav");
    const std::vector<std::string> abandoned = {dir.file(".out.wav.Ab3dE9.part"),
                                                dir.file(".out.wav.sonteva.json.zzzzzz.part")};
    const std::vector<std::string> lookalikes = {
        dir.file(".out.wav.Ab3dE.part"), dir.file(".out.wav.Ab3dE99.part"),
        dir.file("out.wav.Ab3dE9.part"), dir.file(".out.wav.Ab-dE9.part"),
        dir.file(".other.wav.Ab3dE9.part")};
    for (const auto& path : abandoned)
        put(path, "half a file");
    for (const auto& path : lookalikes)
        put(path, "not ours");
    {
        PartFile live(target);
        live.append("whole", 5);
        ConversionJob job = jobFor(dir.file("src.wav"), 44100, BitDepth::int16, "TPDF");
        job.postfix = "";
        job.inputFile.url = QUrl::fromLocalFile(QString::fromStdString(dir.file("out.flac")));
        removeStaleTemporaries(job); // "out" + "" + ".wav" in the same folder
        for (const auto& path : abandoned)
            EXPECT_FALSE(fs::exists(path)) << path;
        for (const auto& path : lookalikes)
            EXPECT_TRUE(fs::exists(path)) << path;
        EXPECT_TRUE(fs::exists(live.tempPath()));
        live.commit();
    }
    EXPECT_EQ(slurp(target), "whole");
}
