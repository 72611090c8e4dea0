// `sonteva measure`: runs engines through the same factory and route as a job, on generated
// test signals, and prints their figures (a listing for one, a table for all), as JSON on
// request, and draws the plots of one into a PNG.
#include "cli/measure_command.h"

#include "analysis/engine_measurement.h"
#include "analysis/report_table.h"
#include "batch/job_runner.h"
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

// Walks "--name value", "--name=value" and "-n value"; everything here is an option.
template <typename Take> void walk(const QStringList& args, Take take) {
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const qsizetype eq =
            arg.startsWith(QLatin1String("--")) ? arg.indexOf(QLatin1Char('=')) : -1;
        const QString name = eq > 0 ? arg.left(eq) : arg;
        bool usedValue = false;
        auto value = [&]() -> QString {
            usedValue = true;
            if (eq > 0) return arg.mid(eq + 1);
            if (i + 1 >= args.size())
                throw UsageError(QStringLiteral("option %1 needs a value").arg(name).toStdString());
            return args[++i];
        };
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-"))
            throw UsageError(
                QStringLiteral("measure takes no file (given \"%1\")").arg(arg).toStdString());
        if (!take(name, value) || (eq > 0 && !usedValue))
            throw UsageError(QStringLiteral("unknown option %1").arg(arg).toStdString());
    }
}

int runReports(const MeasureRequest& r, const std::vector<analysis::EngineReport>& reports,
               double seconds);

} // namespace

MeasureRequest parseMeasure(const QStringList& args) {
    MeasureRequest r;
    walk(args, [&](const QString& name, const auto& value) {
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
        else if (name == QLatin1String("-h") || name == QLatin1String("--help"))
            r.help = true;
        else
            return false;
        return true;
    });
    if (r.help) return r;
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

QString measureUsage() {
    return QStringLiteral(
        "Usage:\n"
        "  sonteva measure -a ENGINE --from HZ -r HZ [--json] [--plot FILE.png]\n"
        "  sonteva measure --all --from HZ -r HZ [--json]\n"
        "\n"
        "Runs engines exactly as a job would, on generated test signals, and reports:\n"
        "passband ripple (20 Hz to 0.9 x the lower Nyquist frequency), the -3 dB point, the\n"
        "response at 0.99 x Nyquist, the worst alias or image (below 0.9 x the output\n"
        "Nyquist frequency, in the whole band, in 20 Hz - 20 kHz), THD+N at -0.1 dBFS, the\n"
        "latency in output frames as measured, the output length against round(n x out / in)\n"
        "and whether the phase is linear. Each figure is printed beside the measurement's\n"
        "own floor; a figure at the floor means \"at least this good\".\n"
        "\n"
        "  -a, --algorithm NAME     one engine: \"Sonteva SRC\" \"Zavir Iravizeza\" \"SoX VHQ\"\n"
        "                           \"r8brain Free\" \"SSRC Shibata\"\n"
        "      --all                every engine side by side, * marking each column's best;\n"
        "                           engines that cannot run here are named with the reason\n"
        "      --from HZ            the source rate (8000 to 768000)\n"
        "  -r, --rate HZ            the target rate: 44100 48000 88200 96000 176400 192000\n"
        "                           352800 384000\n"
        "      --json               every figure as one JSON object on standard output\n"
        "      --plot FILE.png      draw the magnitude response (whole band and passband),\n"
        "                           a swept-sine spectrogram and the impulse response\n"
        "  -h, --help               this text\n"
        "\n"
        "Exit status: 0 when every engine asked for was measured, 1 when one could not run\n"
        "or its measurement failed, 2 on a usage error.\n");
}

int runMeasure(const QStringList& args) {
    const MeasureRequest r = parseMeasure(args);
    if (r.help) {
        std::fputs(measureUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
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
