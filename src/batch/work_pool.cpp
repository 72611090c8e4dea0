#include "batch/work_pool.h"

#include "dsp/cores.h"
#include <algorithm>
#include <utility>

namespace sonteva {

WorkPool::WorkPool(int threads) {
    for (int i = 0; i < std::max(1, threads); ++i)
        threads_.emplace_back([this] { workerLoop(); });
}

WorkPool::~WorkPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_)
        t.join();
}

WorkPool& WorkPool::shared() {
    static WorkPool pool(usableCores());
    return pool;
}

void WorkPool::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void WorkPool::workerLoop() {
    while (true) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) return; // stopping, and nothing left to run
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

void WorkPool::run(int count, const std::function<void(int)>& task) {
    if (count <= 0) return;
    struct Batch {
        std::mutex mutex;
        std::condition_variable done;
        int left = 0;
        std::exception_ptr error;
    } batch;
    batch.left = count;
    for (int i = 0; i < count; ++i)
        post([&batch, &task, i] {
            std::exception_ptr failure;
            try {
                task(i);
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard lock(batch.mutex);
            if (failure && !batch.error) batch.error = failure;
            if (--batch.left == 0) batch.done.notify_all();
        });
    std::unique_lock lock(batch.mutex);
    batch.done.wait(lock, [&] { return batch.left == 0; });
    if (batch.error) std::rethrow_exception(batch.error);
}

Strand::Strand(WorkPool& pool) : pool_(pool), state_(std::make_shared<State>()) {}

void Strand::post(std::function<void()> task) {
    {
        std::lock_guard lock(state_->mutex);
        state_->tasks.push_back(std::move(task));
        if (state_->scheduled) return;
        state_->scheduled = true;
    }
    WorkPool& pool = pool_;
    pool.post([&pool, state = state_] { drain(pool, state); });
}

// One task, then back to the end of the pool's queue if more are waiting, so that a busy
// strand does not keep a thread from the others.
void Strand::drain(WorkPool& pool, const std::shared_ptr<State>& state) {
    std::function<void()> task;
    {
        std::lock_guard lock(state->mutex);
        task = std::move(state->tasks.front());
        state->tasks.pop_front();
    }
    task();
    task = nullptr;
    {
        std::lock_guard lock(state->mutex);
        if (state->tasks.empty()) {
            state->scheduled = false;
            return;
        }
    }
    pool.post([&pool, state] { drain(pool, state); });
}

} // namespace sonteva
