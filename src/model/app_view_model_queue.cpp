// The queue: frozen jobs, Run Batch, one job at a time top to bottom, progress and
// elapsed time in the job's row, and the summary in the status line. Jobs are addressed
// by id, so a late report for a job that left the queue changes nothing.
#include "engines/engine_table.h"
#include "model/app_view_model.h"
#include "model/batch_texts.h"
#include "model/file_names.h"
#include "model/output_check.h"
#include "model/report_mailbox.h"

namespace sonteva {

void AppViewModel::drainReports() {
    for (ReportMailbox::Report& r : mailbox_->take()) {
        if (r.progress)
            onProgress(r.job, *r.progress);
        else
            onFinished(r.job, r.outcome);
    }
}

ConversionJob* AppViewModel::jobById(const QUuid& id) {
    for (ConversionJob& job : batchJobs_)
        if (job.id == id) return &job;
    return nullptr;
}

const JobOutcome* AppViewModel::outcomeOf(const QUuid& id) const {
    for (const auto& [jobId, outcome] : outcomes_)
        if (jobId == id) return &outcome;
    return nullptr;
}

void AppViewModel::setFailInsteadOfSubstituting(bool strict) {
    if (strict_ == strict) return;
    strict_ = strict;
    Q_EMIT failInsteadOfSubstitutingChanged();
}

void AppViewModel::setCompensateDelay(bool compensate) {
    if (compensateDelay_ == compensate) return;
    compensateDelay_ = compensate;
    Q_EMIT compensateDelayChanged();
}

void AppViewModel::setNoClobber(bool keep) {
    if (noClobber_ == keep) return;
    noClobber_ = keep;
    Q_EMIT noClobberChanged();
}

int AppViewModel::skippedCount() const {
    return static_cast<int>(std::count_if(batchJobs_.begin(), batchJobs_.end(), [](const auto& j) {
        return std::holds_alternative<JobSkipped>(j.status);
    }));
}

void AppViewModel::rememberJobOptions() {
    static const QString strictKey = QStringLiteral("sonteva.failInsteadOfSubstituting");
    static const QString compensateKey = QStringLiteral("sonteva.compensateEngineDelay");
    setFailInsteadOfSubstituting(settings_->value(strictKey, false).toBool());
    setCompensateDelay(settings_->value(compensateKey, false).toBool());
    connect(this, &AppViewModel::failInsteadOfSubstitutingChanged, this,
            [this] { settings_->setValue(strictKey, strict_); });
    connect(this, &AppViewModel::compensateDelayChanged, this,
            [this] { settings_->setValue(compensateKey, compensateDelay_); });
}

bool AppViewModel::addAllToQueue() {
    // A stored preset may name an engine this build does not know; it is refused here,
    // where it enters the queue, rather than rendered with some other filter.
    if (!findEngine(quality_.toStdString())) {
        setGlobalStatus(QString::fromStdString(unknownEngineText(quality_.toStdString())) +
                        QStringLiteral(": nothing was added to the queue."));
        return false;
    }
    std::vector<ConversionJob> jobs;
    for (const InputFile& file : inputFiles_) {
        ConversionJob job;
        job.id = QUuid::createUuid();
        job.inputFile = file;
        job.targetFs = targetFs_;
        job.format = format_;
        job.bitDepth = bitDepth_;
        job.quality = quality_;
        job.dither = dither_;
        job.outputFolder = outputFolder_;
        job.postfix = customPostfix_;
        job.strict = strict_;
        job.compensateDelay = compensateDelay_;
        job.noClobber = noClobber_;
        jobs.push_back(job);
    }
    // A folder that takes no file would fail every job in it, one by one, after the
    // others' renders: it is said once, and nothing is queued.
    QStringList folders;
    for (const ConversionJob& job : jobs) {
        const QString path = job.outputUrl().toLocalFile();
        const QString folder =
            path.left(std::max<qsizetype>(path.lastIndexOf(QLatin1Char('/')), 1));
        if (folders.contains(folder)) continue;
        folders << folder;
        if (const QString problem = outputFolderProblem(folder); !problem.isEmpty()) {
            setGlobalStatus(problem + QStringLiteral(": nothing was added to the queue."));
            return false;
        }
    }
    for (ConversionJob& job : jobs) {
        if (job.inputFile.totalFrames < 1)
            job.status = JobError{kNoAudioText};
        else if (const QString problem = outputNameProblem(job.outputUrl()); !problem.isEmpty())
            job.status = JobError{problem};
        batchJobs_.push_back(job);
    }
    Q_EMIT batchJobsChanged();
    const auto n = jobs.size();
    setGlobalStatus(
        QStringLiteral("Added %1 %2 \u2014 %3.")
            .arg(n)
            .arg(n == 1 ? QStringLiteral("job") : QStringLiteral("jobs"), queueSummary()));
    return true;
}

QString AppViewModel::queueSummary() const {
    return QStringLiteral("%1 in queue, %2 pending").arg(batchJobs_.size()).arg(pendingJobCount());
}

int AppViewModel::pendingJobCount() const {
    return static_cast<int>(std::count_if(batchJobs_.begin(), batchJobs_.end(), [](const auto& j) {
        return std::holds_alternative<JobPending>(j.status);
    }));
}

void AppViewModel::runBatch() {
    if (isBatchProcessing_) return;
    setBatchProcessing(true);
    processNextJob();
}

void AppViewModel::processNextJob() {
    auto next = std::find_if(batchJobs_.begin(), batchJobs_.end(), [](const ConversionJob& j) {
        return std::holds_alternative<JobPending>(j.status);
    });
    if (next == batchJobs_.end()) {
        setBatchProcessing(false);
        int failed = 0;
        for (const ConversionJob& j : batchJobs_)
            failed += std::holds_alternative<JobError>(j.status);
        // Files, not jobs: the same conversion queued twice writes one file.
        setGlobalStatus(
            batchSummary(outputGuard_.distinctWritten(batchJobs_), failed, skippedCount()));
        if (timer_) timer_->stop();
        runningJob_ = QUuid();
        return;
    }
    // A job told to keep an existing output ends here, before the guard: it replaces
    // nothing, so no clash with another job's file can come of it.
    if (next->noClobber && outputExists(next->outputUrl())) {
        JobOutcome kept;
        kept.skipped = skipReason(next->outputUrl());
        next->status = JobProcessing{0.0, 0.0};
        onFinished(next->id, kept);
        return;
    }
    if (const QString refusal = outputGuard_.refusal(*next, batchJobs_); !refusal.isEmpty()) {
        JobOutcome refused;
        refused.error = refusal;
        next->status = JobProcessing{0.0, 0.0};
        onFinished(next->id, refused); // and on to the next job
        return;
    }
    setGlobalStatus(processingText(displayName(next->inputFile.url)));
    next->status = JobProcessing{0.0, 0.0};
    Q_EMIT batchJobsChanged();
    runningJob_ = next->id;
    runningSince_.start();
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setInterval(100);
        connect(timer_, &QTimer::timeout, this, &AppViewModel::onTimerTick);
    }
    timer_->start();

    // The reports come from the job's thread and are applied here, on the owning thread.
    const QUuid id = next->id;
    auto progress = [mailbox = mailbox_, id](double p) { mailbox->post({id, p, {}}); };
    auto finished = [mailbox = mailbox_, id](const JobOutcome& outcome) {
        mailbox->post({id, std::nullopt, outcome});
    };
    executor_->start(*next, progress, finished);
}

void AppViewModel::onTimerTick() {
    ConversionJob* job = jobById(runningJob_);
    if (!job) return;
    if (auto* p = std::get_if<JobProcessing>(&job->status)) {
        p->elapsed = static_cast<double>(runningSince_.nsecsElapsed()) * 1e-9;
        Q_EMIT batchJobsChanged();
    }
}

void AppViewModel::onProgress(const QUuid& id, double progress) {
    ConversionJob* job = jobById(id);
    if (!job) return;
    if (auto* p = std::get_if<JobProcessing>(&job->status)) {
        p->progress = progress;
        Q_EMIT batchJobsChanged();
    }
}

void AppViewModel::onFinished(const QUuid& id, const JobOutcome& outcome) {
    const double elapsed = static_cast<double>(runningSince_.nsecsElapsed()) * 1e-9;
    if (ConversionJob* job = jobById(id);
        job && std::holds_alternative<JobProcessing>(job->status)) {
        if (!outcome.skipped.isEmpty()) {
            job->status = JobSkipped{outcome.skipped};
        } else if (outcome.succeeded) {
            job->status = JobDone{elapsed};
            outputGuard_.written(*job);
        } else {
            job->status = JobError{outcome.error};
        }
        outcomes_.emplace_back(id, outcome);
        Q_EMIT batchJobsChanged();
        Q_EMIT jobFinished(id);
    }
    processNextJob();
}

void AppViewModel::removeJob(const QUuid& id) {
    std::erase_if(batchJobs_, [&](const ConversionJob& j) { return j.id == id; });
    Q_EMIT batchJobsChanged();
}

void AppViewModel::clearQueue() {
    batchJobs_.clear();
    outcomes_.clear();
    outputGuard_.clear();
    Q_EMIT batchJobsChanged();
}

} // namespace sonteva
