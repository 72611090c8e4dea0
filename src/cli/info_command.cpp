// `sonteva info`: the quick look before delivery. Every file named is described, once per
// mention; a file that cannot be read is said on the error stream with the reason (and,
// with --json, in a record of its own).
#include "audio_io/audio_error.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "cli/source_facts.h"
#include "model/file_names.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace sonteva::cli {

namespace {

struct InfoOptions {
    bool levels = false;
    bool json = false;
    QStringList files;
};

InfoOptions parseInfo(const QStringList& args) {
    InfoOptions o;
    walkOptions(args, o.files, [&](const QString& name, const std::function<QString()>&) {
        if (isOption(name, nullptr, "--levels"))
            o.levels = true;
        else if (isOption(name, nullptr, "--json"))
            o.json = true;
        else
            return false;
        return true;
    });
    if (o.files.isEmpty()) throw UsageError("info needs at least one FILE");
    return o;
}

QString decibels(double linear) {
    return linear > 0 ? QString::number(20.0 * std::log10(linear), 'f', 2) : QStringLiteral("-inf");
}

QString lufs(double value) {
    return std::isfinite(value) ? QString::number(value, 'f', 2) : QStringLiteral("-inf");
}

QJsonValue rounded(double v) {
    return std::isfinite(v) ? QJsonValue(std::round(v * 100.0) / 100.0) : QJsonValue();
}

QJsonValue optionalValue(const std::optional<double>& v) {
    return v ? rounded(*v) : QJsonValue();
}

// Frames since midnight as a time of day ("01:00:00.000"); hours go on past 24.
QString timeOfDay(uint64_t frames, double rate) {
    if (rate <= 0) return {};
    const auto millis = static_cast<uint64_t>(std::llround(double(frames) / rate * 1000.0));
    const uint64_t s = millis / 1000;
    return QString::asprintf(
        "%02llu:%02llu:%02llu.%03llu", static_cast<unsigned long long>(s / 3600),
        static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60),
        static_cast<unsigned long long>(millis % 1000));
}

QString wordLength(const SourceFacts& f) {
    if (f.integerBits > 0) return QStringLiteral("%1-bit integer").arg(f.integerBits);
    if (f.floatBits > 0) return QStringLiteral("%1-bit float").arg(f.floatBits);
    return QStringLiteral("not stated (a lossy or transcoded stream)");
}

QString channelsText(const SourceFacts& f) {
    QString text =
        QStringLiteral("%1 %2")
            .arg(f.channels)
            .arg(f.channels == 1 ? QStringLiteral("channel") : QStringLiteral("channels"));
    const QString layout = layoutName(f);
    QStringList parts;
    if (!layout.isEmpty()) parts << layout;
    if (!f.speakers.isEmpty()) parts << f.speakers.join(QLatin1Char(' '));
    if (parts.isEmpty() && f.channels > 2) parts << QStringLiteral("layout not stated");
    return parts.isEmpty() ? text
                           : text + QStringLiteral(" (%1)").arg(parts.join(QStringLiteral(": ")));
}

void add(QStringList& lines, const char* label, const QString& value) {
    QString text = value;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text = text.trimmed().replace(QLatin1Char('\n'),
                                  QStringLiteral("\n") + QString(18, QLatin1Char(' ')));
    lines << QStringLiteral("  %1 %2").arg(QLatin1String(label) + QLatin1Char(':'), -15).arg(text);
}

QString describe(const QString& shown, const SourceFacts& f) {
    QStringList lines{shown};
    add(lines, "Format", f.container + QStringLiteral(", ") + f.codec);
    add(lines, "Sample rate",
        QStringLiteral("%1 (%2 Hz)").arg(exactRateText(f.sampleRate)).arg(f.sampleRate, 0, 'f', 0));
    add(lines, "Word length", wordLength(f));
    add(lines, "Channels", channelsText(f));
    const double seconds = f.sampleRate > 0 ? double(f.frames) / f.sampleRate : 0;
    add(lines, "Duration", QStringLiteral("%1 (%2 frames)").arg(clockText(seconds)).arg(f.frames));
    if (!f.bext) {
        add(lines, "Broadcast ext.", QStringLiteral("none"));
    } else {
        const BroadcastFacts& b = *f.bext;
        add(lines, "Description", b.description);
        add(lines, "Originator",
            b.originatorReference.isEmpty()
                ? b.originator
                : QStringLiteral("%1 (reference %2)").arg(b.originator, b.originatorReference));
        add(lines, "Origination",
            (b.originationDate + QLatin1Char(' ') + b.originationTime).trimmed());
        add(lines, "Time reference",
            QStringLiteral("%1 frames (%2 of the day)")
                .arg(b.timeReference)
                .arg(timeOfDay(b.timeReference, f.sampleRate)));
        if (b.loudness)
            add(lines, "bext loudness", QStringLiteral("%1 LUFS").arg(*b.loudness, 0, 'f', 2));
        add(lines, "Coding history", b.codingHistory);
    }
    QStringList tags;
    for (const auto& [key, value] : f.tags)
        tags << QStringLiteral("%1=%2").arg(key, value);
    add(lines, "Tags", tags.isEmpty() ? QStringLiteral("none") : tags.join(QLatin1Char('\n')));
    add(lines, "ISRC", f.isrc.isEmpty() ? QStringLiteral("none") : f.isrc);
    add(lines, "Markers", QString::number(f.markers));
    if (const auto& l = f.levels) {
        add(lines, "Sample peak", decibels(l->samplePeak) + QStringLiteral(" dBFS"));
        add(lines, "True peak", decibels(l->truePeak) + QStringLiteral(" dBTP"));
        QString loudness = lufs(l->integratedLoudness) + QStringLiteral(" LUFS integrated");
        if (std::isfinite(l->loudnessRange))
            loudness += QStringLiteral(", range %1 LU").arg(l->loudnessRange, 0, 'f', 1);
        add(lines, "Loudness", loudness);
    }
    return lines.join(QLatin1Char('\n'));
}

QJsonObject bextJson(const BroadcastFacts& b, double rate) {
    QJsonObject o;
    o[QStringLiteral("description")] = b.description;
    o[QStringLiteral("originator")] = b.originator;
    o[QStringLiteral("originatorReference")] = b.originatorReference;
    o[QStringLiteral("originationDate")] = b.originationDate;
    o[QStringLiteral("originationTime")] = b.originationTime;
    o[QStringLiteral("timeReference")] = static_cast<qint64>(b.timeReference);
    o[QStringLiteral("timeOfDay")] = timeOfDay(b.timeReference, rate);
    o[QStringLiteral("version")] = b.version;
    o[QStringLiteral("codingHistory")] = b.codingHistory;
    QJsonObject loudness;
    loudness[QStringLiteral("integratedLufs")] = optionalValue(b.loudness);
    loudness[QStringLiteral("loudnessRangeLu")] = optionalValue(b.loudnessRange);
    loudness[QStringLiteral("maxTruePeakDbtp")] = optionalValue(b.maxTruePeak);
    loudness[QStringLiteral("maxMomentaryLufs")] = optionalValue(b.maxMomentary);
    loudness[QStringLiteral("maxShortTermLufs")] = optionalValue(b.maxShortTerm);
    o[QStringLiteral("loudness")] = b.version >= 2 ? QJsonValue(loudness) : QJsonValue();
    return o;
}

QJsonObject factsJson(const QString& shown, const SourceFacts& f) {
    QJsonObject o;
    o[QStringLiteral("source")] = shown;
    o[QStringLiteral("status")] = QStringLiteral("ok");
    o[QStringLiteral("container")] = f.container;
    o[QStringLiteral("codec")] = f.codec;
    o[QStringLiteral("sampleRate")] = f.sampleRate;
    const QString depth = bitDepthText(f);
    o[QStringLiteral("bitDepth")] = depth.isEmpty() ? QJsonValue() : QJsonValue(depth);
    o[QStringLiteral("channels")] = f.channels;
    const QString layout = layoutName(f);
    o[QStringLiteral("layout")] = layout.isEmpty() ? QJsonValue() : QJsonValue(layout);
    o[QStringLiteral("speakers")] = QJsonArray::fromStringList(f.speakers);
    o[QStringLiteral("frames")] = static_cast<qint64>(f.frames);
    o[QStringLiteral("seconds")] = f.sampleRate > 0 ? double(f.frames) / f.sampleRate : 0.0;
    o[QStringLiteral("bext")] = f.bext ? QJsonValue(bextJson(*f.bext, f.sampleRate)) : QJsonValue();
    QJsonArray tags;
    for (const auto& [key, value] : f.tags)
        tags.append(QJsonObject{{QStringLiteral("key"), key}, {QStringLiteral("value"), value}});
    o[QStringLiteral("tags")] = tags;
    o[QStringLiteral("isrc")] = f.isrc.isEmpty() ? QJsonValue() : QJsonValue(f.isrc);
    o[QStringLiteral("markers")] = f.markers;
    if (const auto& l = f.levels) {
        QJsonObject levels;
        levels[QStringLiteral("samplePeakDbfs")] = rounded(20.0 * std::log10(l->samplePeak));
        levels[QStringLiteral("truePeakDbtp")] = rounded(20.0 * std::log10(l->truePeak));
        levels[QStringLiteral("integratedLufs")] = rounded(l->integratedLoudness);
        levels[QStringLiteral("loudnessRangeLu")] = rounded(l->loudnessRange);
        o[QStringLiteral("levels")] = levels;
    }
    return o;
}

QString compact(const QJsonObject& o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

} // namespace

int runInfo(const QStringList& args) {
    const InfoOptions o = parseInfo(args);
    int failed = 0;
    bool first = true;
    for (const QString& path : o.files) {
        const QString absolute = absoluteLocalPath(path);
        try {
            const SourceFacts facts = gatherFacts(bytesOfPath(absolute).toStdString(), o.levels);
            if (o.json) {
                printLine(stdout, compact(factsJson(printablePath(absolute), facts)));
                continue;
            }
            if (!first) printLine(stdout, QString());
            first = false;
            printLine(stdout, describe(printablePath(path), facts));
        } catch (const std::exception& e) {
            ++failed;
            const QString reason = printableText(pathFromBytes(QByteArray(e.what())));
            printLine(stderr, QStringLiteral("sonteva: Failed to load %1: %2")
                                  .arg(printablePath(absolute), reason));
            if (o.json)
                printLine(stdout,
                          compact(QJsonObject{{QStringLiteral("source"), printablePath(absolute)},
                                              {QStringLiteral("status"), QStringLiteral("error")},
                                              {QStringLiteral("error"),
                                               QStringLiteral("Failed to load: ") + reason}}));
        }
    }
    return failed > 0 ? 1 : 0;
}

} // namespace sonteva::cli
