#include "batch/resume_record.h"

#include "audio_io/part_file.h"
#include "engines/engine_table.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace sonteva {

namespace {

constexpr qint64 kEndBytes = qint64{1} << 20; // hashed at each end of a file
constexpr qint64 kMaxRecordBytes = qint64{1} << 20;
constexpr int kRecordVersion = 1;
const QString kRecordKind = QStringLiteral("sonteva resume record");
const QString kSontevaVersion = QStringLiteral(SONTEVA_VERSION);

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

bool readAt(int fd, qint64 offset, qint64 size, QCryptographicHash& hash) {
    std::vector<char> buffer(static_cast<size_t>(size));
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer.data() + done, static_cast<size_t>(size - done),
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    hash.addData(QByteArrayView(buffer.data(), size));
    return true;
}

QJsonObject recipeJson(const ConversionJob& job) {
    QJsonObject o;
    o[QStringLiteral("rate")] = job.targetFs;
    o[QStringLiteral("bitDepth")] = QString::fromStdString(rawValue(job.bitDepth));
    o[QStringLiteral("algorithm")] = job.quality;
    o[QStringLiteral("dither")] = job.dither;
    o[QStringLiteral("format")] = QString::fromStdString(rawValue(job.format));
    o[QStringLiteral("postfix")] = job.postfix;
    o[QStringLiteral("strict")] = job.strict;
    o[QStringLiteral("compensateDelay")] = job.compensateDelay;
    return o;
}

// Which engines run here (the others have stand-ins), asked once per process.
const QJsonObject& enginesHere() {
    static const QJsonObject engines = [] {
        QJsonObject o;
        for (const EngineInfo& e : engineTable())
            o[toQString(e.name)] = !e.availability || e.availability().available;
        return o;
    }();
    return engines;
}

QJsonObject fileJson(const FileFingerprint& f) {
    QJsonObject o;
    o[QStringLiteral("size")] = f.size;
    // Nanoseconds since 1970 do not fit a JSON number's 53 bits.
    o[QStringLiteral("mtimeNs")] = QString::number(f.mtimeNs);
    o[QStringLiteral("digest")] = QString::fromLatin1(f.digest);
    return o;
}

FileFingerprint fileFrom(const QJsonObject& o) {
    FileFingerprint f;
    f.size = o.value(QStringLiteral("size")).toInteger(-1);
    f.mtimeNs = o.value(QStringLiteral("mtimeNs")).toString().toLongLong();
    f.digest = o.value(QStringLiteral("digest")).toString().toLatin1();
    return f;
}

QString shown(const QJsonValue& v) {
    if (v.isString()) return QLatin1Char('"') + v.toString() + QLatin1Char('"');
    if (v.isUndefined()) return QStringLiteral("nothing");
    return QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact))
        .mid(1)
        .chopped(1);
}

// The first setting in which the record's recipe differs from the job's, as a sentence.
QString recipeDifference(const QJsonObject& recorded, const QJsonObject& wanted) {
    for (auto it = wanted.begin(); it != wanted.end(); ++it) {
        const QJsonValue then = recorded.value(it.key());
        if (then != it.value())
            return QStringLiteral("it was written with another %1 (%2, not %3)")
                .arg(it.key(), shown(then), shown(it.value()));
    }
    return {};
}

// A deliverable holding a substitution was the best that machine could do; where an engine
// that was missing there runs now, the job is redone rather than kept with its stand-in.
bool betterHereNow(const QJsonObject& record) {
    if (!record.value(QStringLiteral("ran"))
             .toObject()
             .value(QStringLiteral("substituted"))
             .toBool())
        return false;
    const QJsonObject then = record.value(QStringLiteral("engines")).toObject();
    const QJsonObject& now = enginesHere();
    for (auto it = now.begin(); it != now.end(); ++it)
        if (it.value().toBool() && !then.value(it.key()).toBool(false)) return true;
    return false;
}

std::optional<QJsonObject> readRecord(const QString& path, QString& why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.exists() ? QStringLiteral("its record cannot be read: ") + file.errorString()
                            : QStringLiteral("there is no record of what wrote it");
        return std::nullopt;
    }
    const QByteArray bytes = file.read(kMaxRecordBytes + 1);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    const QJsonObject o = doc.object();
    if (bytes.size() > kMaxRecordBytes || error.error != QJsonParseError::NoError ||
        o.value(QStringLiteral("record")).toString() != kRecordKind) {
        why = QStringLiteral("its record is damaged");
        return std::nullopt;
    }
    if (o.value(QStringLiteral("version")).toInt() != kRecordVersion) {
        why = QStringLiteral("its record is of another kind");
        return std::nullopt;
    }
    return o;
}

QString outputPathOf(const ConversionJob& job) {
    return job.outputUrl().toLocalFile();
}

} // namespace

std::optional<FileFingerprint> fingerprintFile(const QString& path, QString* why) {
    auto failed = [&](int error) -> std::optional<FileFingerprint> {
        if (why) *why = QString::fromLocal8Bit(std::strerror(error));
        return std::nullopt;
    };
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failed(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        return failed(error);
    }
    FileFingerprint f;
    f.size = st.st_size;
    f.mtimeNs = qint64{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(f.size) + '\n');
    const qint64 head = std::min(f.size, kEndBytes);
    const qint64 tailStart = std::max(head, f.size - kEndBytes);
    const bool read = readAt(fd, 0, head, hash) && readAt(fd, tailStart, f.size - tailStart, hash);
    const int error = errno;
    ::close(fd);
    if (!read) return failed(error ? error : EIO);
    f.digest = hash.result().toHex();
    return f;
}

QString resumeRecordPath(const QString& outputPath) {
    return outputPath + QStringLiteral(".sonteva.json");
}

ResumeCheck checkDelivered(const ConversionJob& job, const FileFingerprint& source) {
    const QString output = outputPathOf(job);
    struct stat st {};
    if (::stat(encoded(output).constData(), &st) != 0) return {}; // nothing delivered yet
    ResumeCheck check;
    const auto record = readRecord(resumeRecordPath(output), check.redo);
    if (!record) return check;
    const QString version = record->value(QStringLiteral("sonteva")).toString();
    const QJsonObject recordedSource = record->value(QStringLiteral("source")).toObject();
    if (version != kSontevaVersion) {
        check.redo = QStringLiteral("it was written by Sonteva %1 (this is %2)")
                         .arg(version, kSontevaVersion);
    } else if (const QString differs = recipeDifference(
                   record->value(QStringLiteral("recipe")).toObject(), recipeJson(job));
               !differs.isEmpty()) {
        check.redo = differs;
    } else if (recordedSource.value(QStringLiteral("path")).toString() !=
               job.inputFile.url.toLocalFile()) {
        check.redo = QStringLiteral("it was written from another source (%1)")
                         .arg(recordedSource.value(QStringLiteral("path")).toString());
    } else if (!(fileFrom(recordedSource) == source)) {
        check.redo = QStringLiteral("its source has changed since");
    } else if (const auto now = fingerprintFile(output);
               !now || !(fileFrom(record->value(QStringLiteral("output")).toObject()) == *now)) {
        check.redo = QStringLiteral("it has changed since it was written");
    } else if (betterHereNow(*record)) {
        check.redo = QStringLiteral("it holds a substitution, and an engine missing where it "
                                    "was written runs here");
    } else {
        check.done = true;
    }
    return check;
}

void writeResumeRecord(const ConversionJob& job, const FileFingerprint& source,
                       const JobOutcome& outcome) {
    const QString output = outputPathOf(job);
    QString why;
    const auto written = fingerprintFile(output, &why);
    if (!written)
        throw std::runtime_error("cannot read " + output.toStdString() + ": " + why.toStdString());
    QJsonObject sourceJson = fileJson(source);
    sourceJson[QStringLiteral("path")] = job.inputFile.url.toLocalFile();
    QJsonObject ran;
    ran[QStringLiteral("engine")] = outcome.engine;
    ran[QStringLiteral("dither")] = outcome.dither;
    ran[QStringLiteral("bitDepth")] =
        outcome.storedDepth ? QJsonValue(QString::fromStdString(rawValue(*outcome.storedDepth)))
                            : QJsonValue();
    ran[QStringLiteral("substituted")] = outcome.substituted;
    ran[QStringLiteral("notes")] = QJsonArray::fromStringList(outcome.notes);
    QJsonObject o;
    o[QStringLiteral("record")] = kRecordKind;
    o[QStringLiteral("version")] = kRecordVersion;
    o[QStringLiteral("sonteva")] = kSontevaVersion;
    o[QStringLiteral("source")] = sourceJson;
    o[QStringLiteral("output")] = fileJson(*written);
    o[QStringLiteral("recipe")] = recipeJson(job);
    o[QStringLiteral("engines")] = enginesHere();
    o[QStringLiteral("ran")] = ran;
    o[QStringLiteral("written")] = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    const QByteArray bytes = QJsonDocument(o).toJson(QJsonDocument::Indented);
    PartFile part(encoded(resumeRecordPath(output)).toStdString());
    part.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    part.commit();
}

void removeStaleTemporaries(const ConversionJob& job) {
    const QString output = outputPathOf(job);
    removeAbandonedParts(encoded(output).toStdString());
    removeAbandonedParts(encoded(resumeRecordPath(output)).toStdString());
}

} // namespace sonteva
