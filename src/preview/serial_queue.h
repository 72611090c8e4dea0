#pragma once
// A serial queue: one worker thread running posted tasks in order. Tasks can be posted to
// run after a delay and cancelled until they start. Destroying the queue lets the running
// task finish and drops the ones that have not started.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sonteva {

class SerialQueue {
public:
    // A task not yet started can be cancelled; cancelling a started or finished one does nothing.
    class Ticket {
    public:
        void cancel() {
            if (flag_) flag_->store(true);
        }

    private:
        friend class SerialQueue;
        std::shared_ptr<std::atomic<bool>> flag_;
    };

    SerialQueue();
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    Ticket post(std::function<void()> task) {
        return postAfter(std::chrono::milliseconds(0), std::move(task));
    }
    Ticket postAfter(std::chrono::milliseconds delay, std::function<void()> task);
    // True when called from the queue's own thread.
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    struct Entry {
        std::chrono::steady_clock::time_point due;
        uint64_t order;
        std::shared_ptr<std::atomic<bool>> cancelled;
        std::function<void()> task;
    };
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry> entries_; // not yet started
    uint64_t nextOrder_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace sonteva
