#pragma once
// What lets a catalogue run be stopped anywhere and run again: beside each deliverable, a
// small record of what wrote it ("<output>.sonteva.json"). A job whose deliverable and
// record agree with its source and its recipe is done already and is skipped; anything
// else (no record, another recipe, a source or a deliverable that changed since) is
// redone, and replaces the deliverable.
//
// A record beside the file rather than in the file's coding history: only WAV carries one
// (AIFF and FLAC do not), reading it back means parsing every deliverable, and the record
// must also name what the file itself cannot, such as the source's content and the
// deliverable's own size and time.
//
// The record is written after the deliverable is in place, and atomically; a run stopped
// between the two leaves a deliverable whose record is missing or names the previous
// file, so the job is redone: never skipped on the strength of a record that does not
// describe the file beside it.
#include "model/job_executor.h"
#include "model/recipe.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace sonteva {

// Who a file is and, cheaply, what it holds: its size, its modification time (to the
// nanosecond) and a SHA-256 of its size, its first and its last MiB. Hashing whole files
// would read a catalogue of masters twice on every resume; a master that is replaced or
// re-exported changes its size, its time or its ends, and one edited in place in its
// middle keeping its size, while its time is set back, is the one change this does not see.
struct FileFingerprint {
    qint64 size = 0;
    qint64 mtimeNs = 0;
    QByteArray digest; // hex
    bool operator==(const FileFingerprint&) const = default;
};

// Nothing, and the reason, when the file cannot be read.
std::optional<FileFingerprint> fingerprintFile(const QString& path, QString* why = nullptr);

// "<output>.sonteva.json".
QString resumeRecordPath(const QString& outputPath);

struct ResumeCheck {
    bool done = false; // skip: the deliverable is what this job would write
    // Why the job must be (re)done when a deliverable exists; empty when there is none.
    QString redo;
};

// Whether `job`'s deliverable is in place, written by this recipe from `source` (the
// source's fingerprint taken now).
ResumeCheck checkDelivered(const ConversionJob& job, const FileFingerprint& source);

// Records that `job` wrote its deliverable from the source as fingerprinted before it
// started. Throws std::runtime_error with the reason when the record cannot be written.
void writeResumeRecord(const ConversionJob& job, const FileFingerprint& source,
                       const JobOutcome& outcome);

// Removes the temporary files that a run killed outright (no chance to clean up) left
// while writing `job`'s deliverable or its record; files of a run still writing are kept.
void removeStaleTemporaries(const ConversionJob& job);

} // namespace sonteva
