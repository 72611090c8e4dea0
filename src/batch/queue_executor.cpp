#include "batch/queue_executor.h"

#include "batch/job_runner.h"

namespace sonteva {

QueueExecutor::QueueExecutor() : thread_([this] { loop(); }) {}

QueueExecutor::~QueueExecutor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void QueueExecutor::start(const ConversionJob& job, std::function<void(double)> progress,
                          std::function<void(const JobOutcome&)> finished) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back([job, progress = std::move(progress), finished = std::move(finished)] {
            finished(runJob(job, progress));
        });
    }
    wake_.notify_one();
}

void QueueExecutor::loop() {
    while (true) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) return; // stopping, and nothing left to finish
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

} // namespace sonteva
