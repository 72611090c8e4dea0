// `sonteva measure`: runs engines through the same factory and route as a job, on generated
// test signals, and prints their figures (a listing for one, a table for all), as JSON on
// request, and draws the plots of one into a PNG.
#include "cli/measure_command.h"

#include "analysis/engine_measurement.h"
#include "analysis/report_table.h"
#include "batch/job_runner.h"
#include "cli/arguments.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "engines/system_log.h"
#include "plots/report_plots.h"

#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace sonteva::cli {

static_assert(analysis::kBlockFrames == kStreamBlockFrames,
              "the measurement feeds engines the streaming route's blocks");

namespace {

constexpr int kLowestRate = 8000;
constexpr int kHighestRate = 768000;

int parseSourceRate(const QString& text) {
    bool ok = false;
    const int rate = text.toInt(&ok);
    if (!ok || rate < kLowestRate || rate > kHighestRate)
        throw UsageError(QStringLiteral("unknown source rate \"%1\" (accepted: whole hertz from "
                                        "%2 to %3)")
                             .arg(text)
                             .arg(kLowestRate)
                             .arg(kHighestRate)
                             .toStdString());
    return rate;
}

int runReports(const MeasureRequest& r, const std::vector<analysis::EngineReport>& reports,
               double seconds);

} // namespace

MeasureRequest parseMeasure(const QStringList& args) {
    MeasureRequest r;
    QStringList files;
    walkOptions(args, files, [&](const QString& name, const std::function<QString()>& value) {
        if (name == QLatin1String("-a") || name == QLatin1String("--algorithm"))
            r.engine = parseAlgorithm(value());
        else if (name == QLatin1String("--all"))
            r.all = true;
        else if (name == QLatin1String("--from"))
            r.from = parseSourceRate(value());
        else if (name == QLatin1String("-r") || name == QLatin1String("--rate"))
            r.to = parseRate(value());
        else if (name == QLatin1String("--json"))
            r.json = true;
        else if (name == QLatin1String("--plot"))
            r.plot = value();
        else
            return false;
        return true;
    });
    if (!files.isEmpty())
        throw UsageError(QStringLiteral("measure takes no file (given \"%1\")")
                             .arg(files.first())
                             .toStdString());
    if (r.all == r.engine.has_value()) throw UsageError("measure needs either -a ENGINE or --all");
    if (!r.from) throw UsageError("measure needs --from RATE (the source rate)");
    if (!r.to) throw UsageError("measure needs -r RATE (the target rate)");
    if (r.plot && r.all) throw UsageError("--plot draws one engine: use it with -a ENGINE");
    if (r.plot && r.plot->isEmpty()) throw UsageError("--plot needs a file name");
    std::string why;
    if (!analysis::measurable(*r.from, *r.to, &why)) throw UsageError(why);
    return r;
}

bool measureDraws(const QStringList& args) {
    return args.value(0) == QLatin1String("measure") &&
           std::any_of(args.begin(), args.end(),
                       [](const QString& a) { return a.startsWith(QLatin1String("--plot")); });
}

int runMeasure(const QStringList& args) {
    const MeasureRequest r = parseMeasure(args);
    const auto started = std::chrono::steady_clock::now();
    // A stand-in is reported in the figures' own notes, once, not once per test channel.
    setLogEcho(false);
    const analysis::ProbeSet probes = analysis::makeProbeSet(*r.from, *r.to, r.plot.has_value());
    std::vector<analysis::EngineReport> reports;
    if (r.all)
        reports = analysis::measureAllEngines(probes);
    else {
        analysis::MeasureOptions options;
        options.plots = r.plot.has_value();
        reports.push_back(analysis::measureEngine(r.engine->toStdString(), probes, options));
    }
    setLogEcho(true);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return runReports(r, reports, seconds);
}

namespace {

int runReports(const MeasureRequest& r, const std::vector<analysis::EngineReport>& reports,
               double seconds) {
    int status = 0;
    for (const auto& report : reports)
        if (!report.error.empty() || (!report.measured && !r.all)) status = 1;
    if (r.json)
        std::fputs(QJsonDocument(reportsJson(reports, seconds)).toJson().constData(), stdout);
    else if (r.all)
        std::fputs(analysis::tableText(analysis::reportTable(reports)).c_str(), stdout);
    else
        std::fputs(analysis::detailsText(reports.front()).c_str(), stdout);
    if (r.plot && reports.front().measured) {
        const QImage image = renderReportPlots(reports.front());
        if (!image.save(*r.plot, "PNG")) {
            printLine(stderr, QStringLiteral("sonteva: could not write the plot to %1")
                                  .arg(QFileInfo(*r.plot).absoluteFilePath()));
            return 1;
        }
    }
    for (const auto& report : reports) {
        if (report.measured || (r.all && report.error.empty())) continue;
        printLine(stderr,
                  QStringLiteral("sonteva: %1 was not measured: %2")
                      .arg(QString::fromStdString(report.engine),
                           QString::fromStdString(!report.unavailable.empty() ? report.unavailable
                                                                              : report.error)));
    }
    return status;
}

} // namespace

} // namespace sonteva::cli
