#include "audio_io/audio_io.h"
#include "batch/job_runner.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/progress_bar.h"
#include "model/batch_texts.h"
#include "model/naming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QUuid>

#include <cstdio>

namespace sonteva::cli {

namespace {

// The source entry as the source list would hold it; a file that cannot be probed still
// becomes a job, which then fails with the decoder's description.
InputFile probeSource(const QString& path) {
    InputFile file;
    file.id = QUuid::createUuid();
    file.url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    try {
        const AudioIO probe(QFile::encodeName(path).toStdString());
        file.sampleRate = probe.sampleRate();
        file.channels = probe.channels();
        file.totalFrames = probe.totalFrames();
        file.bitDepth = QString::fromStdString(probe.getBitDepth());
    } catch (const std::exception&) {
        file.bitDepth = QStringLiteral("unknown");
    }
    return file;
}

ConversionJob makeJob(const ConvertOptions& o, const QString& path) {
    ConversionJob job;
    job.id = QUuid::createUuid();
    job.inputFile = probeSource(path);
    job.targetFs = o.rate;
    job.format = o.format;
    job.bitDepth = o.bits;
    job.quality = o.algorithm;
    job.dither = o.dither;
    if (o.outputDir)
        job.outputFolder = QUrl::fromLocalFile(QFileInfo(*o.outputDir).absoluteFilePath());
    job.postfix = o.postfix.value_or(expectedPostfix(o.rate, o.bits, o.algorithm, o.dither));
    return job;
}

QString displayPath(const QString& path) {
    const QString relative = QDir::current().relativeFilePath(path);
    return relative.startsWith(QLatin1String("..")) ? path : relative;
}

QString jobLine(const ConversionJob& job, const JobReport& r) {
    const QString source = job.inputFile.url.fileName();
    if (!r.succeeded) return QStringLiteral("failed  %1: %2").arg(source, r.error);
    QString line = QStringLiteral("done    %1 \u2192 %2  (%3 s)")
                       .arg(source, displayPath(r.outputPath), QString::number(r.seconds, 'f', 2));
    for (const QString& note : r.notes)
        line += QStringLiteral(" \u2014 ") + note;
    return line;
}

QByteArray jobJson(const ConversionJob& job, const JobReport& r) {
    QJsonObject o;
    o[QStringLiteral("source")] = job.inputFile.url.toLocalFile();
    o[QStringLiteral("output")] = r.outputPath;
    o[QStringLiteral("status")] = r.succeeded ? QStringLiteral("done") : QStringLiteral("error");
    o[QStringLiteral("seconds")] = r.seconds;
    o[QStringLiteral("error")] = r.succeeded ? QJsonValue() : QJsonValue(r.error);
    if (!r.notes.isEmpty()) o[QStringLiteral("notes")] = QJsonValue::fromVariant(r.notes);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

void printLine(FILE* stream, const QString& line) {
    std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace

int runConvert(const QStringList& args) {
    const ConvertOptions o = parseConvert(args);
    // With --json, standard output carries only the JSON lines.
    FILE* human = o.json ? stderr : stdout;
    ProgressBar bar(!o.quiet);
    int done = 0, failed = 0;
    for (const QString& path : o.files) {
        const ConversionJob job = makeJob(o, path);
        bar.start(processingText(job.inputFile.url.fileName()));
        const JobReport report = runJob(job, [&](double p) { bar.update(p); });
        bar.clear();
        report.succeeded ? ++done : ++failed;
        if (o.json) printLine(stdout, QString::fromUtf8(jobJson(job, report)));
        if (!o.quiet || !report.succeeded)
            printLine(o.quiet ? stderr : human, jobLine(job, report));
    }
    if (!o.quiet) printLine(human, batchSummary(done, failed));
    return failed > 0 ? 1 : 0;
}

} // namespace sonteva::cli
