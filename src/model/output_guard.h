#pragma once
// Keeps the queue's jobs from destroying each other's files: an output may never replace
// a file that is the source of any job in the queue, nor an output another conversion in
// the queue has written or is writing. Jobs that run at the same time never write the same
// file: a job waits while one before it in the queue, not yet finished, writes the file it
// would write, so that what is refused or re-rendered does not depend on how many run. Files are
// compared by identity (folder device and inode plus the name, as the file system compares names;
// the file's own inode for hard links), so symlinked folders, hard links and case-insensitive file
// systems cannot hide a clash.
#include "audio_io/file_identity.h"
#include "model/recipe.h"

#include <QHash>

#include <optional>
#include <vector>

namespace sonteva {

class OutputGuard {
public:
    // Why `job` must not write its output, given the whole queue; empty when it may.
    QString refusal(const ConversionJob& job, const std::vector<ConversionJob>& queue);
    // The first pending job of the queue that may start now: none before it that is
    // pending or running writes the same file.
    const ConversionJob* nextToStart(const std::vector<ConversionJob>& queue);
    // Records the output a job is about to write, until it is released.
    void started(const ConversionJob& job);
    void released(const QUuid& id);
    // Records the output of a job that finished writing.
    void written(const ConversionJob& job);
    // How many distinct files the done jobs of the queue have written.
    int distinctWritten(const std::vector<ConversionJob>& queue) const;
    void clear();

private:
    std::optional<FileIdentity> sourceOf(const ConversionJob& job);
    std::optional<FileIdentity> outputOf(const ConversionJob& job);

    QHash<QUuid, std::optional<FileIdentity>> sources_;
    QHash<QUuid, std::optional<FileIdentity>> outputs_; // of the jobs that wrote
    QHash<QUuid, std::optional<FileIdentity>> writing_; // of the jobs running
    QHash<QUuid, std::optional<FileIdentity>> planned_; // of queued jobs, looked up once
};

} // namespace sonteva
