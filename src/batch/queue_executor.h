#pragma once
// Renders queued jobs on one background thread, one after the other, and reports
// progress and the outcome through the callbacks (from that thread). A job can be stopped
// while it waits or while it renders.
#include "model/job_executor.h"

#include <QUuid>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

namespace sonteva {

class QueueExecutor final : public JobExecutor {
public:
    QueueExecutor();
    // Stops the job in progress and those waiting, and waits until they have reported:
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
    std::stop_source running_; // the job on the thread now, if any
    QUuid runningId_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace sonteva
