#pragma once
// The report of a catalogue run: one JSON object per job and line (NDJSON), appended by
// every task as its jobs finish, and the summary merged from the reports of all tasks
// (and of runs that were stopped and run again).
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace sonteva {

struct ReportRecord {
    QString job;    // the job's identity: its source and its whole recipe, hashed
    QString status; // "done", "skipped" or "failed"
    QString source;
    QString output; // empty when the source could not be loaded
    QString error;  // why it failed
    QStringList notes;
    double seconds = 0;      // rendering time
    double audioSeconds = 0; // the source's duration
    QDateTime started;       // UTC
    QDateTime finished;
    QString host;
    qint64 pid = 0;
    QString shard; // "K/N"
    QJsonObject recipe;
};

// One line of a report: compact JSON and a newline.
QByteArray reportLine(const ReportRecord& record);
// Nothing, and the reason, for a line that holds no record.
std::optional<ReportRecord> parseReportLine(QByteArrayView line, QString& why);

// Appends `line` to the report at `path` (created when missing) as one write under an
// exclusive lock on the whole file, starting it on a fresh line when the file ends inside
// a record (one cut short by a task that was killed while writing it). Locally, an append
// is one write() to a file opened with O_APPEND, which the kernel never interleaves with
// another; on NFS, O_APPEND is not atomic between machines, and the lock (which NFS passes
// to its server; the client revalidates the file's size when it is taken and flushes
// the data before it is released) is what keeps records of different machines apart.
// Throws std::runtime_error with the reason.
void appendReportLine(const QString& path, const QByteArray& line);

struct ReportProblem {
    QString file;
    int line = 0; // 0: the whole file
    QString text;
};

// The reports merged. A job is counted once, by its last record: a job that failed and was
// done by a later run is done; one that was done and then skipped by a later run of the
// same catalogue (its deliverable was already there) counts as done; one only ever skipped
// was delivered before these reports began.
struct ReportSummary {
    int files = 0;
    int records = 0;
    int jobs = 0;
    int done = 0;
    int skipped = 0;
    int failed = 0;
    int superseded = 0;                 // earlier records of jobs that have a later one
    std::vector<ReportRecord> failures; // the last record of each failed job
    double deliveredAudioSeconds = 0;   // done and skipped jobs
    double renderedAudioSeconds = 0;    // done jobs
    double jobSeconds = 0;              // rendering time of every record, summed
    QDateTime firstStart;               // of any record
    QDateTime lastFinish;
    std::vector<ReportProblem> damaged;    // lines that hold no record
    std::vector<ReportProblem> unreadable; // files that cannot be read
};

ReportSummary summarizeReports(const QStringList& files);

} // namespace sonteva
