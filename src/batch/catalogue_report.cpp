#include "batch/catalogue_report.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sonteva {

namespace {

[[noreturn]] void failAppend(const QString& path, int error) {
    throw std::runtime_error("cannot append to the report " + path.toStdString() + ": " +
                             std::strerror(error));
}

// Waits for the whole file. A lock of the open file where the kernel has them; the
// process's own kind elsewhere (older network file systems). Without any lock the append
// is still one write().
void lockWholeFile(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    for (int command : {F_OFD_SETLKW, F_SETLKW}) {
        int result;
        do {
            result = ::fcntl(fd, command, &lock);
        } while (result != 0 && errno == EINTR);
        if (result == 0 || errno != EINVAL) return;
    }
}

bool endsInsideRecord(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size == 0) return false;
    char last = '\n';
    return ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
}

QString timeText(const QDateTime& t) {
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

struct Seen {
    ReportRecord record;
    int order = 0; // position among all lines read
};

bool earlier(const Seen& a, const Seen& b) {
    if (a.record.finished != b.record.finished) return a.record.finished < b.record.finished;
    return a.order < b.order;
}

void readReport(const QString& path, std::vector<Seen>& seen, ReportSummary& s) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        s.unreadable.push_back({path, 0, file.errorString()});
        return;
    }
    ++s.files;
    const QByteArray bytes = file.readAll();
    int number = 0;
    for (qsizetype at = 0; at < bytes.size();) {
        ++number;
        const qsizetype end = bytes.indexOf('\n', at);
        const bool complete = end >= 0;
        const QByteArrayView line =
            QByteArrayView(bytes).sliced(at, (complete ? end : bytes.size()) - at);
        at = complete ? end + 1 : bytes.size();
        if (line.trimmed().isEmpty()) continue;
        QString why;
        if (auto record = parseReportLine(line, why)) {
            ++s.records;
            seen.push_back({std::move(*record), static_cast<int>(seen.size())});
        } else {
            s.damaged.push_back(
                {path, number,
                 complete ? why : QStringLiteral("cut short (the task writing it was stopped)")});
        }
    }
}

void countJob(const std::vector<const Seen*>& history, ReportSummary& s) {
    const ReportRecord& last = history.back()->record;
    s.superseded += static_cast<int>(history.size()) - 1;
    const Seen* done = nullptr;
    for (const Seen* r : history)
        if (r->record.status == QLatin1String("done")) done = r;
    if (last.status == QLatin1String("failed")) {
        ++s.failed;
        s.failures.push_back(last);
    } else if (last.status == QLatin1String("done") || done) {
        ++s.done;
        s.renderedAudioSeconds += done->record.audioSeconds;
        s.deliveredAudioSeconds += done->record.audioSeconds;
    } else {
        ++s.skipped;
        s.deliveredAudioSeconds += last.audioSeconds;
    }
}

} // namespace

QByteArray reportLine(const ReportRecord& r) {
    QJsonObject o;
    o[QStringLiteral("job")] = r.job;
    o[QStringLiteral("status")] = r.status;
    o[QStringLiteral("source")] = r.source;
    o[QStringLiteral("output")] = r.output.isEmpty() ? QJsonValue() : QJsonValue(r.output);
    o[QStringLiteral("error")] = r.error.isEmpty() ? QJsonValue() : QJsonValue(r.error);
    o[QStringLiteral("notes")] = QJsonArray::fromStringList(r.notes);
    o[QStringLiteral("seconds")] = r.seconds;
    o[QStringLiteral("audioSeconds")] = r.audioSeconds;
    o[QStringLiteral("started")] = timeText(r.started);
    o[QStringLiteral("finished")] = timeText(r.finished);
    o[QStringLiteral("host")] = r.host;
    o[QStringLiteral("pid")] = r.pid;
    o[QStringLiteral("shard")] = r.shard.isEmpty() ? QJsonValue() : QJsonValue(r.shard);
    o[QStringLiteral("recipe")] = r.recipe;
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<ReportRecord> parseReportLine(QByteArrayView line, QString& why) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError) {
        why = QStringLiteral("not JSON: ") + error.errorString();
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    ReportRecord r;
    r.status = o.value(QStringLiteral("status")).toString();
    r.source = o.value(QStringLiteral("source")).toString();
    static const QStringList statuses{QStringLiteral("done"), QStringLiteral("skipped"),
                                      QStringLiteral("failed")};
    if (!doc.isObject() || !statuses.contains(r.status) || r.source.isEmpty()) {
        why = QStringLiteral("not a job record");
        return std::nullopt;
    }
    r.output = o.value(QStringLiteral("output")).toString();
    r.job = o.value(QStringLiteral("job")).toString();
    if (r.job.isEmpty()) r.job = r.source + QLatin1Char('\n') + r.output;
    r.error = o.value(QStringLiteral("error")).toString();
    for (const QJsonValue& note : o.value(QStringLiteral("notes")).toArray())
        r.notes << note.toString();
    r.seconds = std::max(0.0, o.value(QStringLiteral("seconds")).toDouble());
    r.audioSeconds = std::max(0.0, o.value(QStringLiteral("audioSeconds")).toDouble());
    r.started = QDateTime::fromString(o.value(QStringLiteral("started")).toString(), Qt::ISODate);
    r.finished = QDateTime::fromString(o.value(QStringLiteral("finished")).toString(), Qt::ISODate);
    r.host = o.value(QStringLiteral("host")).toString();
    r.pid = o.value(QStringLiteral("pid")).toInteger();
    r.shard = o.value(QStringLiteral("shard")).toString();
    r.recipe = o.value(QStringLiteral("recipe")).toObject();
    return r;
}

void appendReportLine(const QString& path, const QByteArray& line) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) failAppend(path, errno);
    lockWholeFile(fd);
    const QByteArray bytes = endsInsideRecord(fd) ? '\n' + line : line;
    qsizetype written = 0;
    int error = 0;
    while (written < bytes.size() && !error) {
        const ssize_t n =
            ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n > 0)
            written += n;
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    if (!error && ::fdatasync(fd) != 0 && errno != EINVAL) error = errno;
    if (::close(fd) != 0 && !error) error = errno; // releases the lock
    if (error) failAppend(path, error);
}

ReportSummary summarizeReports(const QStringList& files) {
    ReportSummary s;
    std::vector<Seen> seen;
    for (const QString& file : files)
        readReport(file, seen, s);
    std::stable_sort(seen.begin(), seen.end(), earlier);
    QHash<QString, std::vector<const Seen*>> byJob;
    QStringList order; // jobs in the order of their first record
    for (const Seen& r : seen) {
        auto& history = byJob[r.record.job];
        if (history.empty()) order << r.record.job;
        history.push_back(&r);
        s.jobSeconds += r.record.seconds;
        if (r.record.started.isValid() &&
            (!s.firstStart.isValid() || r.record.started < s.firstStart))
            s.firstStart = r.record.started;
        if (r.record.finished.isValid() &&
            (!s.lastFinish.isValid() || r.record.finished > s.lastFinish))
            s.lastFinish = r.record.finished;
    }
    s.jobs = static_cast<int>(order.size());
    for (const QString& job : order)
        countJob(byJob[job], s);
    return s;
}

} // namespace sonteva
