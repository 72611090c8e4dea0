// `sonteva convert`: the same state object as the window, driven from the command line.
// Sources are added, queued with the recipe and rendered by Run Batch; the lines printed
// are the state object's own texts.
#include "cli/commands.h"
#include "cli/progress_bar.h"
#include "cli/session.h"
#include "model/batch_texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
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

QJsonObject jsonRecord(const QString& source, const QString& output, bool done, double seconds,
                       const QString& error) {
    QJsonObject o;
    o[QStringLiteral("source")] = source;
    o[QStringLiteral("output")] = output.isEmpty() ? QJsonValue() : QJsonValue(output);
    o[QStringLiteral("status")] = done ? QStringLiteral("done") : QStringLiteral("error");
    o[QStringLiteral("seconds")] = seconds;
    o[QStringLiteral("error")] = done ? QJsonValue() : QJsonValue(error);
    o[QStringLiteral("notes")] = QJsonArray();
    o[QStringLiteral("index")] = QJsonValue(); // not in the queue: it could not be loaded
    return o;
}

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// The job's record: its position in the queue (records arrive as jobs finish, which with
// several running at once is not the queue's order), what was asked (the recipe) and what
// ran (engine, dither, the word length the file holds), the notes that say where the two
// differ, and the levels.
QByteArray jobJson(const ConversionJob& job, int index, const JobOutcome* outcome) {
    const bool done = std::holds_alternative<JobDone>(job.status);
    QJsonObject o = jsonRecord(job.inputFile.url.toLocalFile(), job.outputUrl().toLocalFile(), done,
                               done ? std::get<JobDone>(job.status).elapsed : 0.0,
                               done ? QString() : std::get<JobError>(job.status).description);
    o[QStringLiteral("index")] = index;
    QJsonObject recipe;
    recipe[QStringLiteral("rate")] = job.targetFs;
    recipe[QStringLiteral("bitDepth")] = QString::fromStdString(rawValue(job.bitDepth));
    recipe[QStringLiteral("algorithm")] = job.quality;
    recipe[QStringLiteral("dither")] = job.dither;
    recipe[QStringLiteral("format")] = QString::fromStdString(rawValue(job.format));
    o[QStringLiteral("recipe")] = recipe;
    if (outcome) {
        o[QStringLiteral("notes")] = QJsonArray::fromStringList(outcome->notes);
        o[QStringLiteral("substituted")] = outcome->substituted;
        o[QStringLiteral("engine")] = textOrNull(outcome->engine);
        o[QStringLiteral("dither")] = textOrNull(outcome->dither);
        o[QStringLiteral("bitDepth")] =
            outcome->storedDepth
                ? QJsonValue(QString::fromStdString(rawValue(*outcome->storedDepth)))
                : QJsonValue();
        if (done) {
            o[QStringLiteral("frames")] = static_cast<qint64>(outcome->framesWritten);
            o[QStringLiteral("latencyFrames")] = std::round(outcome->latencyFrames * 1000) / 1000;
        }
        if (outcome->levels) o[QStringLiteral("levels")] = levelsJson(*outcome->levels);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

int queueIndex(const AppViewModel& vm, const QUuid& id) {
    const auto& jobs = vm.batchJobs();
    for (size_t i = 0; i < jobs.size(); ++i)
        if (jobs[i].id == id) return static_cast<int>(i);
    return -1;
}

// Adds every file. Those that cannot be loaded are said on the error stream (and in JSON)
// and count as failures of the run.
int addSources(AppViewModel& vm, const ConvertOptions& o) {
    int failed = 0;
    const QMetaObject::Connection said = QObject::connect(
        &vm, &AppViewModel::sourceFailedToLoad, [&](const QUrl& url, const QString& reason) {
            ++failed;
            printLine(
                stderr,
                QStringLiteral("sonteva: Failed to load %1: %2").arg(url.toLocalFile(), reason));
            if (o.json)
                printLine(stdout,
                          QString::fromUtf8(
                              QJsonDocument(jsonRecord(url.toLocalFile(), {}, false, 0,
                                                       QStringLiteral("Failed to load: ") + reason))
                                  .toJson(QJsonDocument::Compact)));
        });
    for (const QString& path : o.files)
        vm.addInputFile(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    QObject::disconnect(said);
    return failed;
}

} // namespace

int runConvert(const QStringList& args) {
    const ConvertOptions o = parseConvert(args);
    auto vm = makeViewModel();
    applyRecipe(*vm, o.recipe);
    vm->setFailInsteadOfSubstituting(o.strict);
    vm->setCompensateDelay(o.compensateDelay);
    vm->setParallelJobs(o.jobs);
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
        if (vm->runningJobCount() > 0)
            bar.show(vm->globalStatus(), vm->batchProgress(), vm->batchElapsed());
    });
    QObject::connect(vm.get(), &AppViewModel::jobFinished, [&](const QUuid& id) {
        bar.clear();
        const int index = queueIndex(*vm, id);
        if (index < 0) return;
        const ConversionJob* job = &vm->batchJobs()[static_cast<size_t>(index)];
        const bool done = std::holds_alternative<JobDone>(job->status);
        failed += done ? 0 : 1;
        if (o.json) printLine(stdout, QString::fromUtf8(jobJson(*job, index, vm->outcomeOf(id))));
        if (!o.quiet || !done)
            printLine(o.quiet ? stderr : human, jobLine(*job, vm->outcomeOf(id)));
    });
    // The summary line is the last status the run writes, once it has stopped processing.
    // Files that could not be loaded are failures of the run like failed jobs.
    QObject::connect(vm.get(), &AppViewModel::globalStatusChanged, [&] {
        if (vm->isBatchProcessing()) return;
        bar.clear();
        const QString summary =
            loadFailures > 0 ? batchSummary(vm->filesWritten(), failed) : vm->globalStatus();
        if (!o.quiet) printLine(human, summary);
        QCoreApplication::quit();
    });
    vm->runBatch();
    if (vm->isBatchProcessing()) QCoreApplication::exec();
    return failed > 0 ? 1 : 0;
}

} // namespace sonteva::cli
