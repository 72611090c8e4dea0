#pragma once
// Renders queued jobs on one background thread, one after the other, and reports
// progress and the outcome through the callbacks (from that thread).
#include "model/job_executor.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace sonteva {

class QueueExecutor final : public JobExecutor {
public:
    QueueExecutor();
    // Waits for the job in progress: a half-written output is never left behind.
    ~QueueExecutor() override;

    void start(const ConversionJob& job, std::function<void(double)> progress,
               std::function<void(const JobOutcome&)> finished) override;

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace sonteva
