#include "cli/job_records.h"

#include "model/batch_texts.h"
#include "model/file_names.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace sonteva::cli {

namespace {

// Relative to the working folder when below it, as the user would type it.
QString shownPath(const QUrl& url) {
    const QString path = url.toLocalFile();
    const QString relative = QDir::current().relativeFilePath(path);
    return printablePath(relative.startsWith(QLatin1String("..")) ? path : relative);
}

QJsonValue finiteOrNull(double v) {
    return std::isfinite(v) ? QJsonValue(std::round(v * 100.0) / 100.0) : QJsonValue();
}

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

const char* statusName(const JobStatus& status) {
    if (std::holds_alternative<JobDone>(status)) return "done";
    if (std::holds_alternative<JobSkipped>(status)) return "skipped";
    if (std::holds_alternative<JobError>(status)) return "error";
    return "pending";
}

QString compact(const QJsonObject& o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

} // namespace

QJsonObject levelsJson(const JobLevels& l) {
    QJsonObject o;
    o[QStringLiteral("samplePeakDbfs")] = finiteOrNull(20.0 * std::log10(l.samplePeak));
    o[QStringLiteral("truePeakDbtp")] = finiteOrNull(20.0 * std::log10(l.truePeak));
    o[QStringLiteral("integratedLufs")] = finiteOrNull(l.integratedLoudness);
    o[QStringLiteral("clippedSamples")] = static_cast<qint64>(l.clippedSamples);
    return o;
}

QString jobLine(const ConversionJob& job, const JobOutcome* outcome) {
    const QString source = displayName(job.inputFile.url);
    if (const auto* error = std::get_if<JobError>(&job.status))
        return QStringLiteral("failed  %1: %2").arg(source, error->description);
    if (std::holds_alternative<JobSkipped>(job.status))
        return QStringLiteral("skipped %1 \u2192 %2  (exists)")
            .arg(source, shownPath(job.outputUrl()));
    const double seconds = std::get<JobDone>(job.status).elapsed;
    QString line = QStringLiteral("done    %1 \u2192 %2").arg(source, shownPath(job.outputUrl()));
    if (outcome && outcome->replaced) line += QStringLiteral("  (replaced)");
    line += QStringLiteral("  (%1 s)").arg(QString::number(seconds, 'f', 2));
    if (outcome && outcome->levels) line += QStringLiteral("  ") + levelsText(*outcome->levels);
    if (outcome)
        for (const QString& note : outcome->notes)
            line += QStringLiteral(" \u2014 ") + note;
    return line;
}

// The job's record: what was asked (the recipe) and what ran (engine, dither, the word
// length the file holds), the notes that say where the two differ, and the levels.
QByteArray jobJson(const ConversionJob& job, int index, const JobOutcome* outcome) {
    const bool done = std::holds_alternative<JobDone>(job.status);
    const auto* error = std::get_if<JobError>(&job.status);
    QJsonObject o;
    o[QStringLiteral("source")] = displayPath(job.inputFile.url);
    o[QStringLiteral("output")] = displayPath(job.outputUrl());
    o[QStringLiteral("status")] = QLatin1String(statusName(job.status));
    o[QStringLiteral("seconds")] = done ? std::get<JobDone>(job.status).elapsed : 0.0;
    o[QStringLiteral("error")] = error ? QJsonValue(error->description) : QJsonValue();
    o[QStringLiteral("replaced")] = done && outcome && outcome->replaced;
    o[QStringLiteral("index")] = index;
    o[QStringLiteral("notes")] = QJsonArray();
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
    return compact(o).toUtf8();
}

QByteArray loadFailureJson(const QUrl& source, const QString& reason) {
    QJsonObject o;
    o[QStringLiteral("source")] = displayPath(source);
    o[QStringLiteral("status")] = QStringLiteral("error");
    o[QStringLiteral("error")] = QStringLiteral("Failed to load: ") + reason;
    o[QStringLiteral("index")] = QJsonValue(); // never queued
    return compact(o).toUtf8();
}

} // namespace sonteva::cli
