// `sonteva report FILE...`: the reports of a catalogue's tasks (and of the runs that
// resumed it) merged into one summary: jobs done, skipped and failed with their reasons,
// the audio delivered, the wall time.
#include "batch/catalogue_report.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace sonteva::cli {

namespace {

QString clock(double seconds) {
    const auto s = static_cast<qint64>(seconds + 0.5);
    return QString::asprintf("%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
}

double wallSeconds(const ReportSummary& s) {
    if (!s.firstStart.isValid() || !s.lastFinish.isValid()) return 0;
    return std::max<qint64>(0, s.firstStart.msecsTo(s.lastFinish)) / 1000.0;
}

QStringList summaryLines(const ReportSummary& s) {
    QStringList lines;
    lines << QStringLiteral("%1 %2 merged: %3 records of %4 jobs.")
                 .arg(s.files)
                 .arg(s.files == 1 ? QStringLiteral("report") : QStringLiteral("reports"))
                 .arg(s.records)
                 .arg(s.jobs);
    lines << QStringLiteral("Done: %1, skipped: %2, failed: %3.")
                 .arg(s.done)
                 .arg(s.skipped)
                 .arg(s.failed);
    lines << QStringLiteral("Audio: %1 hours delivered (%2), %3 hours converted (%4).")
                 .arg(s.deliveredAudioSeconds / 3600.0, 0, 'f', 2)
                 .arg(clock(s.deliveredAudioSeconds))
                 .arg(s.renderedAudioSeconds / 3600.0, 0, 'f', 2)
                 .arg(clock(s.renderedAudioSeconds));
    lines << QStringLiteral("Wall time: %1 from the first start to the last finish; "
                            "rendering time %2 summed over the jobs.")
                 .arg(clock(wallSeconds(s)), clock(s.jobSeconds));
    if (s.superseded > 0)
        lines << QStringLiteral("%1 earlier records of the same jobs were superseded by later "
                                "runs.")
                     .arg(s.superseded);
    if (!s.failures.empty()) lines << QStringLiteral("Failed:");
    for (const ReportRecord& r : s.failures)
        lines << QStringLiteral("  %1: %2").arg(r.source, r.error);
    return lines;
}

QJsonObject summaryJson(const ReportSummary& s) {
    QJsonObject o;
    o[QStringLiteral("reports")] = s.files;
    o[QStringLiteral("records")] = s.records;
    o[QStringLiteral("jobs")] = s.jobs;
    o[QStringLiteral("done")] = s.done;
    o[QStringLiteral("skipped")] = s.skipped;
    o[QStringLiteral("failed")] = s.failed;
    o[QStringLiteral("superseded")] = s.superseded;
    QJsonArray failures;
    for (const ReportRecord& r : s.failures) {
        QJsonObject f;
        f[QStringLiteral("source")] = r.source;
        f[QStringLiteral("output")] = r.output.isEmpty() ? QJsonValue() : QJsonValue(r.output);
        f[QStringLiteral("error")] = r.error;
        f[QStringLiteral("host")] = r.host;
        f[QStringLiteral("shard")] = r.shard.isEmpty() ? QJsonValue() : QJsonValue(r.shard);
        failures.append(f);
    }
    o[QStringLiteral("failures")] = failures;
    o[QStringLiteral("audioHours")] = s.deliveredAudioSeconds / 3600.0;
    o[QStringLiteral("convertedAudioHours")] = s.renderedAudioSeconds / 3600.0;
    o[QStringLiteral("wallSeconds")] = wallSeconds(s);
    o[QStringLiteral("jobSeconds")] = s.jobSeconds;
    QJsonArray damaged;
    for (const auto* list : {&s.damaged, &s.unreadable})
        for (const ReportProblem& p : *list) {
            QJsonObject d;
            d[QStringLiteral("file")] = p.file;
            d[QStringLiteral("line")] = p.line > 0 ? QJsonValue(p.line) : QJsonValue();
            d[QStringLiteral("problem")] = p.text;
            damaged.append(d);
        }
    o[QStringLiteral("problems")] = damaged;
    return o;
}

} // namespace

int runReport(const QStringList& args) {
    bool json = false;
    QStringList files;
    bool onlyFiles = false;
    for (const QString& arg : args) {
        if (onlyFiles || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-"))
            files << arg;
        else if (arg == QLatin1String("--"))
            onlyFiles = true;
        else if (arg == QLatin1String("--json"))
            json = true;
        else
            throw UsageError(QStringLiteral("unknown option %1").arg(arg).toStdString());
    }
    if (files.isEmpty()) throw UsageError("no report files given");
    const ReportSummary s = summarizeReports(files);
    for (const ReportProblem& p : s.unreadable)
        printLine(stderr, QStringLiteral("sonteva: cannot read %1: %2").arg(p.file, p.text));
    for (const ReportProblem& p : s.damaged)
        printLine(
            stderr,
            QStringLiteral("sonteva: %1:%2: left out, %3").arg(p.file).arg(p.line).arg(p.text));
    if (json)
        printLine(stdout,
                  QString::fromUtf8(QJsonDocument(summaryJson(s)).toJson(QJsonDocument::Compact)));
    else
        for (const QString& line : summaryLines(s))
            printLine(stdout, line);
    return s.failed > 0 || !s.unreadable.empty() ? 1 : 0;
}

} // namespace sonteva::cli
