#pragma once
// A small fixed pool of worker threads for converting the channels of one block in
// parallel: run(n, task) executes task(0) ... task(n-1), the calling thread taking its
// share, and returns when all have finished. An exception thrown by a task is
// re-thrown by run() once every task has ended.
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace sonteva {

class ChannelPool {
public:
    // workers: extra threads beside the caller (0 runs everything on the caller).
    explicit ChannelPool(int workers);
    ~ChannelPool();
    ChannelPool(const ChannelPool&) = delete;
    ChannelPool& operator=(const ChannelPool&) = delete;

    void run(int count, const std::function<void(int)>& task);

    // Workers for a job of `channels` channels on this machine.
    static int workersFor(int channels);

private:
    void workerLoop();
    bool takeAndRun(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::vector<std::thread> threads_;
    const std::function<void(int)>* task_ = nullptr;
    int next_ = 0;
    int count_ = 0;
    int running_ = 0;
    bool stopping_ = false;
    std::exception_ptr error_;
};

} // namespace sonteva
