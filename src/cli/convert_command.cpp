// `sonteva convert`: the same state object as the window, driven from the command line.
// Sources are added, queued with the recipe and rendered by Run Batch; the lines printed
// are the state object's own texts.
#include "cli/commands.h"
#include "cli/progress_bar.h"
#include "cli/session.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sonteva::cli {

namespace {

QString displayPath(const QString& path) {
    const QString relative = QDir::current().relativeFilePath(path);
    return relative.startsWith(QLatin1String("..")) ? path : relative;
}

QString decibels(double linear, const char* unit) {
    if (!(linear > 0)) return QStringLiteral("-inf %1").arg(QLatin1String(unit));
    return QStringLiteral("%1 %2")
        .arg(20.0 * std::log10(linear), 0, 'f', 2)
        .arg(QLatin1String(unit));
}

// "peak -0.10 dBFS, true peak 0.31 dBTP, -9.84 LUFS, 1234 clipped"
QString levelsText(const JobLevels& l) {
    const QString loudness = std::isfinite(l.integratedLoudness)
                                 ? QString::number(l.integratedLoudness, 'f', 2)
                                 : QStringLiteral("-inf");
    QString text = QStringLiteral("peak %1, true peak %2, %3 LUFS")
                       .arg(decibels(l.samplePeak, "dBFS"), decibels(l.truePeak, "dBTP"), loudness);
    if (l.clippedSamples > 0) text += QStringLiteral(", %1 clipped").arg(l.clippedSamples);
    return text;
}

QJsonValue finiteOrNull(double v) {
    return std::isfinite(v) ? QJsonValue(std::round(v * 100.0) / 100.0) : QJsonValue();
}

QJsonObject levelsJson(const JobLevels& l) {
    QJsonObject o;
    o[QStringLiteral("samplePeakDbfs")] = finiteOrNull(20.0 * std::log10(l.samplePeak));
    o[QStringLiteral("truePeakDbtp")] = finiteOrNull(20.0 * std::log10(l.truePeak));
    o[QStringLiteral("integratedLufs")] = finiteOrNull(l.integratedLoudness);
    o[QStringLiteral("clippedSamples")] = static_cast<qint64>(l.clippedSamples);
    return o;
}

QString jobLine(const ConversionJob& job, const JobOutcome* outcome) {
    const QString source = job.inputFile.url.fileName();
    if (const auto* error = std::get_if<JobError>(&job.status))
        return QStringLiteral("failed  %1: %2").arg(source, error->description);
    const double seconds = std::get<JobDone>(job.status).elapsed;
    QString line = QStringLiteral("done    %1 \u2192 %2  (%3 s)")
                       .arg(source, displayPath(job.outputUrl().toLocalFile()),
                            QString::number(seconds, 'f', 2));
    if (outcome && outcome->levels) line += QStringLiteral("  ") + levelsText(*outcome->levels);
    if (outcome)
        for (const QString& note : outcome->notes)
            line += QStringLiteral(" \u2014 ") + note;
    return line;
}

QByteArray jsonRecord(const QString& source, const QString& output, bool done, double seconds,
                      const QString& error, const QStringList& notes,
                      const std::optional<JobLevels>& levels = std::nullopt) {
    QJsonObject o;
    o[QStringLiteral("source")] = source;
    o[QStringLiteral("output")] = output.isEmpty() ? QJsonValue() : QJsonValue(output);
    o[QStringLiteral("status")] = done ? QStringLiteral("done") : QStringLiteral("error");
    o[QStringLiteral("seconds")] = seconds;
    o[QStringLiteral("error")] = done ? QJsonValue() : QJsonValue(error);
    if (!notes.isEmpty()) o[QStringLiteral("notes")] = QJsonValue::fromVariant(notes);
    if (levels) o[QStringLiteral("levels")] = levelsJson(*levels);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray jobJson(const ConversionJob& job, const JobOutcome* outcome) {
    const bool done = std::holds_alternative<JobDone>(job.status);
    return jsonRecord(job.inputFile.url.toLocalFile(), job.outputUrl().toLocalFile(), done,
                      done ? std::get<JobDone>(job.status).elapsed : 0.0,
                      done ? QString() : std::get<JobError>(job.status).description,
                      outcome ? outcome->notes : QStringList(),
                      outcome ? outcome->levels : std::nullopt);
}

const ConversionJob* findJob(const AppViewModel& vm, const QUuid& id) {
    for (const ConversionJob& job : vm.batchJobs())
        if (job.id == id) return &job;
    return nullptr;
}

// Adds every file; those that cannot be loaded (the state object prints why) count as
// failures of the run.
int addSources(AppViewModel& vm, const ConvertOptions& o) {
    int failed = 0;
    for (const QString& path : o.files) {
        const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        const auto before = vm.inputFiles().size();
        const bool known = std::any_of(vm.inputFiles().begin(), vm.inputFiles().end(),
                                       [&](const InputFile& f) { return f.url == url; });
        vm.addInputFile(url);
        if (!known && vm.inputFiles().size() == before) {
            ++failed;
            if (o.json)
                printLine(stdout,
                          QString::fromUtf8(jsonRecord(url.toLocalFile(), {}, false, 0,
                                                       QStringLiteral("could not be loaded"), {})));
        }
    }
    return failed;
}

} // namespace

int runConvert(const QStringList& args) {
    const ConvertOptions o = parseConvert(args);
    auto vm = makeViewModel();
    applyRecipe(*vm, o.recipe);
    if (o.postfix) vm->setCustomPostfix(*o.postfix);
    if (o.outputDir)
        vm->setOutputFolder(QUrl::fromLocalFile(QFileInfo(*o.outputDir).absoluteFilePath()));
    FILE* human = o.json ? stderr : stdout; // with --json, standard output carries only JSON
    const int loadFailures = addSources(*vm, o);
    vm->addAllToQueue();
    if (!o.quiet) printLine(human, vm->globalStatus());

    ProgressBar bar(!o.quiet);
    int failed = loadFailures;
    QObject::connect(vm.get(), &AppViewModel::batchJobsChanged, [&] {
        for (const ConversionJob& job : vm->batchJobs())
            if (const auto* p = std::get_if<JobProcessing>(&job.status)) {
                bar.show(vm->globalStatus(), p->progress, p->elapsed);
                return;
            }
    });
    QObject::connect(vm.get(), &AppViewModel::jobFinished, [&](const QUuid& id) {
        bar.clear();
        const ConversionJob* job = findJob(*vm, id);
        if (!job) return;
        const bool done = std::holds_alternative<JobDone>(job->status);
        failed += done ? 0 : 1;
        if (o.json) printLine(stdout, QString::fromUtf8(jobJson(*job, vm->outcomeOf(id))));
        if (!o.quiet || !done)
            printLine(o.quiet ? stderr : human, jobLine(*job, vm->outcomeOf(id)));
    });
    // The summary line is the last status the run writes, once it has stopped processing.
    QObject::connect(vm.get(), &AppViewModel::globalStatusChanged, [&] {
        if (vm->isBatchProcessing()) return;
        bar.clear();
        if (!o.quiet) printLine(human, vm->globalStatus());
        QCoreApplication::quit();
    });
    vm->runBatch();
    if (vm->isBatchProcessing()) QCoreApplication::exec();
    return failed > 0 ? 1 : 0;
}

} // namespace sonteva::cli
