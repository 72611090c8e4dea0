#include "batch/queue_executor.h"

#include "batch/job_runner.h"

namespace sonteva {

QueueExecutor::QueueExecutor() : thread_([this] { loop(); }) {}

QueueExecutor::~QueueExecutor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        running_.request_stop();
        for (Task& task : tasks_)
            task.stop.request_stop();
    }
    wake_.notify_all();
    thread_.join();
}

void QueueExecutor::start(const ConversionJob& job, std::function<void(double)> progress,
                          std::function<void(const JobOutcome&)> finished) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back({job, std::move(progress), std::move(finished), {}});
    }
    wake_.notify_one();
}

void QueueExecutor::stop(const QUuid& jobId) {
    std::lock_guard lock(mutex_);
    if (runningId_ == jobId && !jobId.isNull()) running_.request_stop();
    // A job still waiting starts, sees the request at once and reports that it stopped.
    for (Task& task : tasks_)
        if (task.job.id == jobId) task.stop.request_stop();
}

void QueueExecutor::loop() {
    while (true) {
        Task task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) return; // stopping, and nothing left to finish
            task = std::move(tasks_.front());
            tasks_.pop_front();
            running_ = task.stop;
            runningId_ = task.job.id;
        }
        const JobOutcome outcome = runJob(task.job, task.progress, task.stop.get_token());
        {
            std::lock_guard lock(mutex_);
            running_ = std::stop_source(std::nostopstate);
            runningId_ = QUuid();
        }
        task.finished(outcome);
    }
}

} // namespace sonteva
