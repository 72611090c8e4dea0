#include "batch/queue_executor.h"

#include "batch/job_runner.h"

#include <algorithm>

namespace sonteva {

QueueExecutor::~QueueExecutor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& [id, stop] : running_)
            stop.request_stop();
        for (Task& task : tasks_)
            task.stop.request_stop();
    }
    wake_.notify_all();
    for (auto& t : threads_)
        t.join();
}

// A job started while every thread is busy gets a thread of its own: the state object
// starts no more jobs than it means to run at once, so the threads never outnumber them.
void QueueExecutor::start(const ConversionJob& job, std::function<void(double)> progress,
                          std::function<void(const JobOutcome&)> finished) {
    std::lock_guard lock(mutex_);
    tasks_.push_back({job, std::move(progress), std::move(finished), {}});
    if (static_cast<int>(tasks_.size()) > idle_)
        threads_.emplace_back([this] { loop(); });
    else
        wake_.notify_one();
}

void QueueExecutor::stop(const QUuid& jobId) {
    if (jobId.isNull()) return;
    std::lock_guard lock(mutex_);
    for (auto& [id, stop] : running_)
        if (id == jobId) stop.request_stop();
    // A job still waiting starts, sees the request at once and reports that it stopped.
    for (Task& task : tasks_)
        if (task.job.id == jobId) task.stop.request_stop();
}

void QueueExecutor::loop() {
    std::unique_lock lock(mutex_);
    while (true) {
        ++idle_;
        wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        --idle_;
        if (tasks_.empty()) return; // stopping, and nothing left to finish
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        running_.emplace_back(task.job.id, task.stop);
        lock.unlock();
        const JobOutcome outcome = runJob(task.job, task.progress, task.stop.get_token());
        lock.lock();
        std::erase_if(running_, [&](const auto& r) { return r.first == task.job.id; });
        lock.unlock();
        task.finished(outcome);
        lock.lock();
    }
}

} // namespace sonteva
