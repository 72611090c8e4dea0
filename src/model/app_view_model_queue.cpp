// The queue: frozen jobs, Run Batch, one job at a time top to bottom, progress and
// elapsed time in the job's row, the batch's progress and then its summary in the status
// line, and Stop. Jobs are addressed by id and reports by the render they come from, so a
// late report for a job that left the queue, or from a render that was stopped, changes
// nothing (except that a stopped render that had in fact completed counts as done).
#include "engines/engine_table.h"
#include "model/app_view_model.h"
#include "model/batch_texts.h"
#include "model/file_names.h"
#include "model/output_check.h"
#include "model/report_mailbox.h"

namespace sonteva {

void AppViewModel::drainReports() {
    for (ReportMailbox::Report& r : mailbox_->take()) {
        if (r.run == run_ && run_ != 0) {
            if (r.progress)
                onProgress(r.job, *r.progress);
            else
                onFinished(r.job, r.outcome);
        } else if (!r.progress) {
            const auto a = std::find_if(abandoned_.begin(), abandoned_.end(),
                                        [&](const Abandoned& x) { return x.run == r.run; });
            if (a == abandoned_.end()) continue;
            const double elapsed = static_cast<double>(a->since.nsecsElapsed()) * 1e-9;
            abandoned_.erase(a);
            onAbandonedFinished(r.job, r.outcome, elapsed);
        }
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
    batchClock_.start();
    batchFinished_ = 0;
    batchSecondsDone_ = 0;
    processNextJob();
}

void AppViewModel::stopBatch() {
    if (!isBatchProcessing_) return;
    if (ConversionJob* job = jobById(runningJob_);
        job && std::holds_alternative<JobProcessing>(job->status)) {
        job->status = JobPending{};
        abandoned_.push_back({run_, runningSince_});
        executor_->stop(runningJob_);
    }
    endBatch(stoppedSummary());
}

QString AppViewModel::stoppedSummary() const {
    int failed = 0;
    for (const ConversionJob& j : batchJobs_)
        failed += std::holds_alternative<JobError>(j.status);
    return sonteva::stoppedSummary(outputGuard_.distinctWritten(batchJobs_), failed,
                                   pendingJobCount());
}

void AppViewModel::endBatch(const QString& summary) {
    run_ = 0;
    runningJob_ = QUuid();
    if (timer_) timer_->stop();
    Q_EMIT batchJobsChanged();
    setBatchProcessing(false);
    setGlobalStatus(summary);
}

void AppViewModel::processNextJob() {
    auto next = std::find_if(batchJobs_.begin(), batchJobs_.end(), [](const ConversionJob& j) {
        return std::holds_alternative<JobPending>(j.status);
    });
    if (next == batchJobs_.end()) {
        int failed = 0;
        for (const ConversionJob& j : batchJobs_)
            failed += std::holds_alternative<JobError>(j.status);
        // Files, not jobs: the same conversion queued twice writes one file.
        endBatch(
            batchSummary(outputGuard_.distinctWritten(batchJobs_), failed, skippedCount()));
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
    next->status = JobProcessing{0.0, 0.0};
    runningJob_ = next->id;
    run_ = ++lastRun_;
    showBatchProgress();
    Q_EMIT batchJobsChanged();
    runningSince_.start();
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setInterval(100);
        connect(timer_, &QTimer::timeout, this, &AppViewModel::onTimerTick);
    }
    timer_->start();

    // The reports come from the job's thread and are applied here, on the owning thread.
    const QUuid id = next->id;
    auto progress = [mailbox = mailbox_, run = run_, id](double p) {
        mailbox->post({run, id, p, {}});
    };
    auto finished = [mailbox = mailbox_, run = run_, id](const JobOutcome& outcome) {
        mailbox->post({run, id, std::nullopt, outcome});
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
    showBatchProgress();
}

namespace {

// What a job weighs in the estimate: the seconds of audio it holds (at least a little, so
// that a job of an empty or unreadable file still counts).
double audioSeconds(const ConversionJob& job) {
    const InputFile& f = job.inputFile;
    const double seconds = f.sampleRate > 0 ? static_cast<double>(f.totalFrames) / f.sampleRate : 0;
    return std::max(seconds, 0.1);
}

// Before this much of the batch has run, an estimate says more about start-up than speed.
constexpr double kEstimateAfterSeconds = 3.0;

} // namespace

// "Processing take.wav... (3 of 12, about 2 min left)": the position counts the jobs this
// run has finished; the estimate assumes the rest renders at the speed so far, in seconds
// of audio per second.
void AppViewModel::showBatchProgress() {
    const ConversionJob* job = jobById(runningJob_);
    const auto* processing = job ? std::get_if<JobProcessing>(&job->status) : nullptr;
    if (!processing) return;
    double secondsLeftOfAudio = audioSeconds(*job) * (1.0 - processing->progress);
    for (const ConversionJob& j : batchJobs_)
        if (std::holds_alternative<JobPending>(j.status)) secondsLeftOfAudio += audioSeconds(j);
    const double done = batchSecondsDone_ + audioSeconds(*job) * processing->progress;
    const double elapsed = static_cast<double>(batchClock_.nsecsElapsed()) * 1e-9;
    std::optional<double> left;
    if (elapsed >= kEstimateAfterSeconds && done > 0) left = elapsed * secondsLeftOfAudio / done;
    const QString text = batchProgressText(displayName(job->inputFile.url), batchFinished_ + 1,
                                           batchFinished_ + 1 + pendingJobCount(), left);
    if (text != globalStatus_) setGlobalStatus(text);
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
    if (outcome.stopped) { // stopped from elsewhere (the executor was shut down)
        if (ConversionJob* job = jobById(id);
            job && std::holds_alternative<JobProcessing>(job->status))
            job->status = JobPending{};
        endBatch(stoppedSummary());
        return;
    }
    if (ConversionJob* job = jobById(id);
        job && std::holds_alternative<JobProcessing>(job->status)) {
        ++batchFinished_;
        batchSecondsDone_ += audioSeconds(*job);
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

// A render stopped at the user's request whose report came after the stop. Usually it
// did stop and the job stays pending; one that completed all the same wrote its file and
// is done, if the job is still waiting.
void AppViewModel::onAbandonedFinished(const QUuid& id, const JobOutcome& outcome, double elapsed) {
    ConversionJob* job = jobById(id);
    if (!outcome.succeeded || !job || !std::holds_alternative<JobPending>(job->status)) return;
    job->status = JobDone{elapsed};
    outputGuard_.written(*job);
    outcomes_.emplace_back(id, outcome);
    Q_EMIT batchJobsChanged();
    Q_EMIT jobFinished(id);
    if (!isBatchProcessing_) setGlobalStatus(stoppedSummary());
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
