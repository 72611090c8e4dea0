// The queue: frozen jobs, Run Batch, top to bottom, one job at a time unless more are
// allowed to run at once, progress and elapsed time in each running job's row, and the
// summary in the status line. Jobs are addressed by id, so a late report for a job that
// left the queue changes nothing.
#include "engines/engine_table.h"
#include "model/app_view_model.h"
#include "model/batch_texts.h"
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

void AppViewModel::setParallelJobs(int jobs) {
    jobs = std::clamp(jobs, 1, kMostParallelJobs);
    if (parallelJobs_ == jobs) return;
    parallelJobs_ = jobs;
    Q_EMIT parallelJobsChanged();
    if (isBatchProcessing_) processNextJob(); // more may start now
}

void AppViewModel::rememberJobOptions() {
    static const QString strictKey = QStringLiteral("sonteva.failInsteadOfSubstituting");
    static const QString compensateKey = QStringLiteral("sonteva.compensateEngineDelay");
    static const QString parallelKey = QStringLiteral("sonteva.parallelJobs");
    setFailInsteadOfSubstituting(settings_->value(strictKey, false).toBool());
    setCompensateDelay(settings_->value(compensateKey, false).toBool());
    setParallelJobs(settings_->value(parallelKey, 1).toInt());
    connect(this, &AppViewModel::parallelJobsChanged, this,
            [this] { settings_->setValue(parallelKey, parallelJobs_); });
    connect(this, &AppViewModel::failInsteadOfSubstitutingChanged, this,
            [this] { settings_->setValue(strictKey, strict_); });
    connect(this, &AppViewModel::compensateDelayChanged, this,
            [this] { settings_->setValue(compensateKey, compensateDelay_); });
}

void AppViewModel::addAllToQueue() {
    // A stored preset may name an engine this build does not know; it is refused here,
    // where it enters the queue, rather than rendered with some other filter.
    if (!findEngine(quality_.toStdString())) {
        setGlobalStatus(QString::fromStdString(unknownEngineText(quality_.toStdString())) +
                        QStringLiteral(": nothing was added to the queue."));
        return;
    }
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
        batchJobs_.push_back(job);
    }
    if (isBatchProcessing_) batchTotal_ += static_cast<int>(inputFiles_.size());
    Q_EMIT batchJobsChanged();
    const auto n = inputFiles_.size();
    setGlobalStatus(
        QStringLiteral("Added %1 %2 \u2014 %3.")
            .arg(n)
            .arg(n == 1 ? QStringLiteral("job") : QStringLiteral("jobs"), queueSummary()));
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
    batchTotal_ = pendingJobCount();
    batchFinished_ = 0;
    batchSince_.start();
    setBatchProcessing(true);
    processNextJob();
}

void AppViewModel::processNextJob() {
    if (!isBatchProcessing_) return;
    while (runningJobCount() < parallelJobs_) {
        // The guard's choice: a job waits while one before it writes the same file.
        const ConversionJob* found = outputGuard_.nextToStart(batchJobs_);
        if (!found) break;
        ConversionJob& next = *jobById(found->id);
        if (const QString refusal = outputGuard_.refusal(next, batchJobs_); !refusal.isEmpty()) {
            JobOutcome refused;
            refused.error = refusal;
            settle(next, refused, 0.0); // and on to the next job
            continue;
        }
        startJob(next);
    }
    if (running_.empty())
        endBatch();
    else
        showRunning();
}

void AppViewModel::startJob(ConversionJob& job) {
    job.status = JobProcessing{0.0, 0.0};
    outputGuard_.started(job);
    running_.push_back({job.id, {}});
    running_.back().since.start();
    Q_EMIT batchJobsChanged();
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setInterval(100);
        connect(timer_, &QTimer::timeout, this, &AppViewModel::onTimerTick);
    }
    if (!timer_->isActive()) timer_->start();

    // The reports come from the job's thread and are applied here, on the owning thread.
    const QUuid id = job.id;
    auto progress = [mailbox = mailbox_, id](double p) { mailbox->post({id, p, {}}); };
    auto finished = [mailbox = mailbox_, id](const JobOutcome& outcome) {
        mailbox->post({id, std::nullopt, outcome});
    };
    executor_->start(job, progress, finished);
}

// One job running: its file, as the one-at-a-time flow has it; several: how many.
void AppViewModel::showRunning() {
    if (running_.size() == 1) {
        if (const ConversionJob* job = jobById(running_.front().id))
            setGlobalStatus(processingText(job->inputFile.url.fileName()));
        return;
    }
    setGlobalStatus(QStringLiteral("Processing %1 files...").arg(running_.size()));
}

void AppViewModel::endBatch() {
    setBatchProcessing(false);
    int failed = 0;
    for (const ConversionJob& j : batchJobs_)
        failed += std::holds_alternative<JobError>(j.status);
    // Files, not jobs: the same conversion queued twice writes one file.
    setGlobalStatus(batchSummary(outputGuard_.distinctWritten(batchJobs_), failed));
    if (timer_) timer_->stop();
}

double AppViewModel::batchProgress() const {
    double done = batchFinished_;
    for (const Running& r : running_)
        for (const ConversionJob& job : batchJobs_)
            if (job.id == r.id)
                if (const auto* p = std::get_if<JobProcessing>(&job.status)) done += p->progress;
    return std::clamp(done / std::max(batchTotal_, 1), 0.0, 1.0);
}

double AppViewModel::batchElapsed() const {
    return batchSince_.isValid() ? static_cast<double>(batchSince_.nsecsElapsed()) * 1e-9 : 0.0;
}

void AppViewModel::onTimerTick() {
    bool changed = false;
    for (const Running& r : running_)
        if (ConversionJob* job = jobById(r.id))
            if (auto* p = std::get_if<JobProcessing>(&job->status)) {
                p->elapsed = static_cast<double>(r.since.nsecsElapsed()) * 1e-9;
                changed = true;
            }
    if (changed) Q_EMIT batchJobsChanged();
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
    const auto run = std::find_if(running_.begin(), running_.end(),
                                  [&](const Running& r) { return r.id == id; });
    if (run == running_.end()) return; // not a job this batch started
    const double elapsed = static_cast<double>(run->since.nsecsElapsed()) * 1e-9;
    running_.erase(run);
    outputGuard_.released(id);
    ConversionJob* job = jobById(id);
    if (job && std::holds_alternative<JobProcessing>(job->status)) settle(*job, outcome, elapsed);
    processNextJob();
}

// The job's end: done with its render time, or failed with the reason.
void AppViewModel::settle(ConversionJob& job, const JobOutcome& outcome, double elapsed) {
    if (outcome.succeeded)
        job.status = JobDone{elapsed};
    else
        job.status = JobError{outcome.error};
    if (outcome.succeeded) outputGuard_.written(job);
    ++batchFinished_;
    outcomes_.emplace_back(job.id, outcome);
    Q_EMIT batchJobsChanged();
    Q_EMIT jobFinished(job.id);
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
