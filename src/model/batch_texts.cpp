#include "model/batch_texts.h"

#include <algorithm>
#include <cmath>

namespace sonteva {

namespace {

QString decibels(double linear, const char* unit) {
    if (!(linear > 0)) return QStringLiteral("-inf %1").arg(QLatin1String(unit));
    return QStringLiteral("%1 %2")
        .arg(20.0 * std::log10(linear), 0, 'f', 2)
        .arg(QLatin1String(unit));
}

} // namespace

QString levelsText(const JobLevels& l) {
    const QString loudness = std::isfinite(l.integratedLoudness)
                                 ? QString::number(l.integratedLoudness, 'f', 2)
                                 : QStringLiteral("-inf");
    QString text = QStringLiteral("peak %1, true peak %2, %3 LUFS")
                       .arg(decibels(l.samplePeak, "dBFS"), decibels(l.truePeak, "dBTP"), loudness);
    if (l.clippedSamples > 0) text += QStringLiteral(", %1 clipped").arg(l.clippedSamples);
    return text;
}

QString deliverableText(const JobOutcome& o) {
    QStringList lines{o.outputPath};
    QStringList ran;
    if (!o.engine.isEmpty()) ran << o.engine;
    if (!o.dither.isEmpty()) ran << QStringLiteral("dither ") + o.dither;
    if (o.storedDepth) ran << menuLabel(*o.storedDepth);
    if (!ran.isEmpty()) lines << ran.join(QStringLiteral(", "));
    if (o.levels) lines << levelsText(*o.levels);
    lines += o.notes;
    return lines.join(QLatin1Char('\n'));
}

QString batchSummary(int done, int failed, int skipped) {
    // Skipped jobs are named only when there are any: the texts stay as designed otherwise.
    const QString skips = skipped > 0 ? QStringLiteral(", %1 skipped").arg(skipped) : QString();
    if (failed > 0)
        return QStringLiteral("Batch finished \u2014 %1 done, %2 failed%3.")
            .arg(done)
            .arg(failed)
            .arg(skips);
    return QStringLiteral("Batch completed successfully \u2014 %1 %2 written%3.")
        .arg(done)
        .arg(done == 1 ? QStringLiteral("file") : QStringLiteral("files"), skips);
}

QString processingText(const QString& fileName) {
    return QStringLiteral("Processing ") + fileName + QStringLiteral("...");
}

QString batchProgressText(const QString& fileName, int position, int total,
                          std::optional<double> secondsLeft) {
    if (total <= 1) return processingText(fileName);
    QString where = QStringLiteral("%1 of %2").arg(position).arg(total);
    if (secondsLeft) where += QStringLiteral(", ") + timeLeftText(*secondsLeft);
    return processingText(fileName) + QStringLiteral(" (") + where + QLatin1Char(')');
}

QString parallelProgressText(int running, int first, int total, std::optional<double> secondsLeft) {
    const QString text = QStringLiteral("Processing %1 files...").arg(running);
    if (total <= running) return text;
    QString where =
        QStringLiteral("%1\u2013%2 of %3").arg(first).arg(first + running - 1).arg(total);
    if (secondsLeft) where += QStringLiteral(", ") + timeLeftText(*secondsLeft);
    return text + QStringLiteral(" (") + where + QLatin1Char(')');
}

QString timeLeftText(double seconds) {
    if (!(seconds >= 10)) return QStringLiteral("a few seconds left");
    if (seconds < 55) {
        const int fives = static_cast<int>(std::lround(seconds / 5.0)) * 5;
        return QStringLiteral("about %1 s left").arg(fives);
    }
    // Whole minutes, and hours beyond the first; capped so that a wild estimate stays text.
    const long minutes = std::lround(std::min(seconds, 1e7) / 60.0);
    if (minutes < 60) return QStringLiteral("about %1 min left").arg(std::max(1L, minutes));
    if (minutes % 60 == 0) return QStringLiteral("about %1 h left").arg(minutes / 60);
    return QStringLiteral("about %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}

QString stoppedSummary(int done, int failed, int pending) {
    QString counts = QStringLiteral("%1 done").arg(done);
    if (failed > 0) counts += QStringLiteral(", %1 failed").arg(failed);
    return QStringLiteral("Batch stopped \u2014 %1, %2 pending.").arg(counts).arg(pending);
}

QString loadFailuresText(int count) {
    return QStringLiteral("%1 %2 could not be loaded")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("file") : QStringLiteral("files"));
}

} // namespace sonteva
