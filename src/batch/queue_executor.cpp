#include "batch/queue_executor.h"

#include "batch/job_runner.h"

namespace sonteva {

QueueExecutor::~QueueExecutor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
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
    tasks_.push_back([job, progress = std::move(progress), finished = std::move(finished)] {
        finished(runJob(job, progress));
    });
    if (static_cast<int>(tasks_.size()) > idle_)
        threads_.emplace_back([this] { loop(); });
    else
        wake_.notify_one();
}

void QueueExecutor::loop() {
    std::unique_lock lock(mutex_);
    while (true) {
        ++idle_;
        wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        --idle_;
        if (tasks_.empty()) return; // stopping, and nothing left to finish
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace sonteva
