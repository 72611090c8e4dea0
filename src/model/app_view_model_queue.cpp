// The queue: frozen jobs, Run Batch, top to bottom, one job at a time unless more are
// allowed to run at once, progress and elapsed time in each running job's row, the batch's
// progress and then its summary in the status line, and Stop. Jobs are addressed by id and
// reports by the render they come from, so a late report for a job that left the queue, or
// from a render that was stopped, changes nothing (except that a stopped render that had
// in fact completed counts as done).
#include "engines/engine_table.h"
#include "model/app_view_model.h"
#include "model/batch_texts.h"
#include "model/file_names.h"
#include "model/output_check.h"
#include "model/report_mailbox.h"

namespace sonteva {

void AppViewModel::drainReports() {
    for (ReportMailbox::Report& r : mailbox_->take()) {
        if (runningRender(r.run)) {
            if (r.progress)
                onProgress(r.job, *r.progress);
            else
                onFinished(r.job, r.run, r.outcome);
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

AppViewModel::Running* AppViewModel::runningRender(uint64_t run) {
    for (Running& r : running_)
        if (r.run == run) return &r;
    return nullptr;
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
    batchClock_.start();
    batchTotal_ = pendingJobCount();
    batchFinished_ = 0;
    batchSecondsDone_ = 0;
    setBatchProcessing(true);
    processNextJob();
}

void AppViewModel::stopBatch() {
    if (!isBatchProcessing_) return;
    for (const Running& r : running_) {
        if (ConversionJob* job = jobById(r.id);
            job && std::holds_alternative<JobProcessing>(job->status))
            job->status = JobPending{};
        abandoned_.push_back({r.run, r.since});
        outputGuard_.released(r.id);
        executor_->stop(r.id);
    }
    running_.clear();
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
    if (timer_) timer_->stop();
    Q_EMIT batchJobsChanged();
    setBatchProcessing(false);
    setGlobalStatus(summary);
}

void AppViewModel::processNextJob() {
    if (!isBatchProcessing_) return;
    while (runningJobCount() < parallelJobs_) {
        // The guard's choice: a job waits while one before it writes the same file.
        const ConversionJob* found = outputGuard_.nextToStart(batchJobs_);
        if (!found) break;
        ConversionJob& next = *jobById(found->id);
        // A job told to keep an existing output ends here, before the guard: it replaces
        // nothing, so no clash with another job's file can come of it.
        if (next.noClobber && outputExists(next.outputUrl())) {
            JobOutcome kept;
            kept.skipped = skipReason(next.outputUrl());
            settle(next, kept, 0.0);
            continue;
        }
        if (const QString refusal = outputGuard_.refusal(next, batchJobs_); !refusal.isEmpty()) {
            JobOutcome refused;
            refused.error = refusal;
            settle(next, refused, 0.0); // and on to the next job
            continue;
        }
        startJob(next);
    }
    if (!running_.empty()) {
        showBatchProgress();
        return;
    }
    int failed = 0;
    for (const ConversionJob& j : batchJobs_)
        failed += std::holds_alternative<JobError>(j.status);
    // Files, not jobs: the same conversion queued twice writes one file.
    endBatch(batchSummary(outputGuard_.distinctWritten(batchJobs_), failed, skippedCount()));
}

void AppViewModel::startJob(ConversionJob& job) {
    job.status = JobProcessing{0.0, 0.0};
    outputGuard_.started(job);
    const uint64_t run = ++lastRun_;
    running_.push_back({job.id, run, {}});
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
    auto progress = [mailbox = mailbox_, run, id](double p) { mailbox->post({run, id, p, {}}); };
    auto finished = [mailbox = mailbox_, run, id](const JobOutcome& outcome) {
        mailbox->post({run, id, std::nullopt, outcome});
    };
    executor_->start(job, progress, finished);
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

// "Processing take.wav... (3 of 12, about 2 min left)", or with several running
// "Processing 2 files... (3–4 of 12, …)": the positions count the jobs this run has
// finished; the estimate assumes the rest renders at the speed so far, in seconds of
// audio per second.
void AppViewModel::showBatchProgress() {
    if (running_.empty()) return;
    double secondsLeftOfAudio = 0;
    double done = batchSecondsDone_;
    const ConversionJob* first = nullptr;
    for (const Running& r : running_) {
        const ConversionJob* job = jobById(r.id);
        const auto* processing = job ? std::get_if<JobProcessing>(&job->status) : nullptr;
        if (!processing) continue;
        if (!first) first = job;
        secondsLeftOfAudio += audioSeconds(*job) * (1.0 - processing->progress);
        done += audioSeconds(*job) * processing->progress;
    }
    if (!first) return;
    for (const ConversionJob& j : batchJobs_)
        if (std::holds_alternative<JobPending>(j.status)) secondsLeftOfAudio += audioSeconds(j);
    const double elapsed = batchElapsed();
    std::optional<double> left;
    if (elapsed >= kEstimateAfterSeconds && done > 0) left = elapsed * secondsLeftOfAudio / done;
    const int running = runningJobCount();
    const int total = batchFinished_ + running + pendingJobCount();
    const QString text =
        running == 1
            ? batchProgressText(displayName(first->inputFile.url), batchFinished_ + 1, total, left)
            : parallelProgressText(running, batchFinished_ + 1, total, left);
    if (text != globalStatus_) setGlobalStatus(text);
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
    return batchClock_.isValid() ? static_cast<double>(batchClock_.nsecsElapsed()) * 1e-9 : 0.0;
}

void AppViewModel::onProgress(const QUuid& id, double progress) {
    ConversionJob* job = jobById(id);
    if (!job) return;
    if (auto* p = std::get_if<JobProcessing>(&job->status)) {
        p->progress = progress;
        Q_EMIT batchJobsChanged();
    }
}

void AppViewModel::onFinished(const QUuid& id, uint64_t run, const JobOutcome& outcome) {
    Running* render = runningRender(run);
    const double elapsed = static_cast<double>(render->since.nsecsElapsed()) * 1e-9;
    std::erase_if(running_, [&](const Running& r) { return r.run == run; });
    outputGuard_.released(id);
    ConversionJob* job = jobById(id);
    const bool processing = job && std::holds_alternative<JobProcessing>(job->status);
    if (outcome.stopped) { // stopped from elsewhere (the executor was shut down)
        if (processing) job->status = JobPending{};
        stopBatch();
        return;
    }
    if (processing) settle(*job, outcome, elapsed);
    processNextJob();
}

// The job's end: skipped, done with its render time, or failed with the reason.
void AppViewModel::settle(ConversionJob& job, const JobOutcome& outcome, double elapsed) {
    if (!outcome.skipped.isEmpty()) {
        job.status = JobSkipped{outcome.skipped};
    } else if (outcome.succeeded) {
        job.status = JobDone{elapsed};
        outputGuard_.written(job);
    } else {
        job.status = JobError{outcome.error};
    }
    ++batchFinished_;
    batchSecondsDone_ += audioSeconds(job);
    outcomes_.emplace_back(job.id, outcome);
    Q_EMIT batchJobsChanged();
    Q_EMIT jobFinished(job.id);
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
