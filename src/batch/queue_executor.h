#pragma once
// Renders the jobs it is given in the background, each on a thread of its own that plans
// the job and waits while the shared work pool renders it; as many at once as the state
// object starts (it decides how many run). Reports progress and the outcome through the
// callbacks (from those threads). A job can be stopped while it waits or while it renders.
#include "model/job_executor.h"

#include <QUuid>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace sonteva {

class QueueExecutor final : public JobExecutor {
public:
    QueueExecutor() = default;
    // Stops the jobs in progress and those waiting, and waits until they have reported:
    // a half-written output is never left behind.
    ~QueueExecutor() override;

    void start(const ConversionJob& job, std::function<void(double)> progress,
               std::function<void(const JobOutcome&)> finished) override;
    void stop(const QUuid& jobId) override;

private:
    struct Task {
        ConversionJob job;
        std::function<void(double)> progress;
        std::function<void(const JobOutcome&)> finished;
        std::stop_source stop;
    };
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::vector<std::pair<QUuid, std::stop_source>> running_; // the jobs on the threads now
    int idle_ = 0;                                            // threads waiting for a job
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace sonteva
