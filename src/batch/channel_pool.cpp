#include "batch/channel_pool.h"

#include <algorithm>
#include <utility>

namespace sonteva {

ChannelPool::ChannelPool(int workers) {
    for (int i = 0; i < workers; ++i)
        threads_.emplace_back([this] { workerLoop(); });
}

ChannelPool::~ChannelPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_)
        t.join();
}

int ChannelPool::workersFor(int channels) {
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    return std::max(0, std::min(channels, cores) - 1);
}

// Runs one pending task if there is one; called with the lock held, returns with it held.
bool ChannelPool::takeAndRun(std::unique_lock<std::mutex>& lock) {
    if (!task_ || next_ >= count_) return false;
    const int index = next_++;
    ++running_;
    const auto* task = task_;
    lock.unlock();
    std::exception_ptr failure;
    try {
        (*task)(index);
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    if (failure && !error_) error_ = failure;
    if (--running_ == 0 && next_ >= count_) finished_.notify_all();
    return true;
}

void ChannelPool::workerLoop() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [&] { return stopping_ || (task_ && next_ < count_); });
        if (stopping_) return;
        while (takeAndRun(lock)) {
        }
    }
}

void ChannelPool::run(int count, const std::function<void(int)>& task) {
    if (count <= 0) return;
    std::unique_lock lock(mutex_);
    task_ = &task;
    next_ = 0;
    count_ = count;
    error_ = nullptr;
    lock.unlock();
    wake_.notify_all();
    lock.lock();
    while (takeAndRun(lock)) {
    }
    finished_.wait(lock, [&] { return running_ == 0 && next_ >= count_; });
    task_ = nullptr;
    if (auto failure = std::exchange(error_, nullptr)) std::rethrow_exception(failure);
}

} // namespace sonteva
