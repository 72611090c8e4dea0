#pragma once
// The one pool of worker threads that does the rendering work of every running job:
// as many threads as the machine has cores, shared by all jobs, so that running several
// jobs at once never puts more work on the cores than they can take. A job's own thread
// only plans and waits; its reading, converting, metering, dithering and writing are
// tasks on this pool.
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sonteva {

class WorkPool {
public:
    explicit WorkPool(int threads);
    // Runs what is still queued, then ends the threads.
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    // The process's pool: one thread per core.
    static WorkPool& shared();
    int threads() const { return static_cast<int>(threads_.size()); }

    // Queues a task; tasks start in the order they were posted. A task must not wait for
    // another task: it would hold a thread the other may need.
    void post(std::function<void()> task);
    // Runs task(0) ... task(count - 1) on the pool and returns when all have ended; the
    // first exception a task threw is re-thrown then. Not for use from a pool thread.
    void run(int count, const std::function<void(int)>& task);

private:
    void workerLoop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Tasks that must run one after the other (a channel's blocks through its engine, the
// blocks of one file through its writer), run as pool tasks: in the order posted, never
// two at once, on whichever thread is free.
class Strand {
public:
    explicit Strand(WorkPool& pool);
    Strand(const Strand&) = delete;
    Strand& operator=(const Strand&) = delete;
    void post(std::function<void()> task);

private:
    struct State {
        std::mutex mutex;
        std::deque<std::function<void()>> tasks;
        bool scheduled = false;
    };
    static void drain(WorkPool& pool, const std::shared_ptr<State>& state);

    WorkPool& pool_;
    // Shared with the task in flight, which may still release it after the owner, told
    // that its work is done, has gone.
    std::shared_ptr<State> state_;
};

} // namespace sonteva
