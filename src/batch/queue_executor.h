#pragma once
// Renders the jobs it is given in the background, each on a thread of its own that plans
// the job and waits while the shared work pool renders it; as many at once as the state
// object starts (it decides how many run). Reports progress and the outcome through the
// callbacks (from those threads).
#include "model/job_executor.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace sonteva {

class QueueExecutor final : public JobExecutor {
public:
    QueueExecutor() = default;
    // Waits for the jobs in progress: a half-written output is never left behind.
    ~QueueExecutor() override;

    void start(const ConversionJob& job, std::function<void(double)> progress,
               std::function<void(const JobOutcome&)> finished) override;

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    int idle_ = 0; // threads waiting for a job
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace sonteva
