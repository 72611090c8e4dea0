#include "model/output_guard.h"

#include "model/file_names.h"

#include <set>
#include <tuple>

namespace sonteva {

namespace {

bool sameRecipe(const ConversionJob& a, const ConversionJob& b) {
    return a.targetFs == b.targetFs && a.bitDepth == b.bitDepth && a.quality == b.quality &&
           a.dither == b.dither && a.format == b.format && a.compensateDelay == b.compensateDelay;
}

} // namespace

std::optional<FileIdentity> OutputGuard::sourceOf(const ConversionJob& job) {
    auto it = sources_.find(job.id);
    if (it == sources_.end())
        it = sources_.insert(job.id, fileIdentity(localPath(job.inputFile.url)));
    return *it;
}

std::optional<FileIdentity> OutputGuard::outputOf(const ConversionJob& job) {
    auto it = planned_.find(job.id);
    if (it == planned_.end() || !*it)
        it = planned_.insert(job.id, fileIdentity(localPath(job.outputUrl())));
    return *it;
}

const ConversionJob* OutputGuard::nextToStart(const std::vector<ConversionJob>& queue) {
    // What the unfinished jobs seen so far write: folder and name, the file itself where it
    // exists (a hard link), the path where the folder cannot be reached.
    std::set<std::tuple<dev_t, ino_t, std::string>> names;
    std::set<std::pair<dev_t, ino_t>> files;
    std::set<QString> paths;
    for (const ConversionJob& job : queue) {
        const bool pending = std::holds_alternative<JobPending>(job.status);
        if (!pending && !std::holds_alternative<JobProcessing>(job.status)) continue;
        bool taken = false;
        if (const auto output = outputOf(job)) {
            taken = !names.emplace(output->folderDevice, output->folderInode, output->name).second;
            if (output->exists)
                taken |= !files.emplace(output->fileDevice, output->fileInode).second;
        } else {
            taken = !paths.insert(job.outputUrl().toLocalFile()).second;
        }
        if (pending && !taken) return &job;
    }
    return nullptr;
}

QString OutputGuard::refusal(const ConversionJob& job, const std::vector<ConversionJob>& queue) {
    const std::optional<FileIdentity> output = fileIdentity(localPath(job.outputUrl()));
    if (!output) return {}; // no folder to write in: the job fails on its own, with the reason
    const QString path = displayPath(job.outputUrl());
    for (const ConversionJob& other : queue) {
        const auto source = sourceOf(other);
        if (!source || !output->sameAs(*source)) continue;
        if (other.id == job.id)
            return QStringLiteral("The output would replace its own source file: %1").arg(path);
        return QStringLiteral("The output %1 would replace %2, the source of another job in "
                              "the queue")
            .arg(path, displayPath(other.inputFile.url));
    }
    for (auto it = writing_.begin(); it != writing_.end(); ++it)
        if (it.key() != job.id && *it && output->sameAs(**it))
            return QStringLiteral("%1 is being written by another job in the queue").arg(path);
    // Running the same conversion of the same file again (under any of its names) is a
    // re-render, not a loss.
    const auto mine = sourceOf(job);
    for (const ConversionJob& other : queue) {
        if (other.id == job.id || !std::holds_alternative<JobDone>(other.status)) continue;
        const auto theirs = sourceOf(other);
        if (sameRecipe(other, job) && mine && theirs && mine->sameAs(*theirs)) continue;
        const auto written = outputs_.value(other.id);
        if (written && output->sameAs(*written))
            return QStringLiteral("%1 was already written by another job in the queue (from %2)")
                .arg(path, displayPath(other.inputFile.url));
    }
    return {};
}

void OutputGuard::started(const ConversionJob& job) {
    writing_.insert(job.id, fileIdentity(localPath(job.outputUrl())));
}

void OutputGuard::released(const QUuid& id) {
    writing_.remove(id);
}

void OutputGuard::written(const ConversionJob& job) {
    outputs_.insert(job.id, fileIdentity(localPath(job.outputUrl())));
}

int OutputGuard::distinctWritten(const std::vector<ConversionJob>& queue) const {
    std::set<std::tuple<dev_t, ino_t, std::string>> files;
    for (const ConversionJob& job : queue) {
        if (!std::holds_alternative<JobDone>(job.status)) continue;
        if (const auto id = outputs_.value(job.id))
            files.emplace(id->folderDevice, id->folderInode, id->name);
        else
            files.emplace(0, 0, localPath(job.outputUrl()));
    }
    return static_cast<int>(files.size());
}

void OutputGuard::clear() {
    sources_.clear();
    outputs_.clear();
    planned_.clear();
    writing_.clear();
}

} // namespace sonteva
