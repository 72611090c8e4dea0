#include "preview/serial_queue.h"

#include <algorithm>

namespace sonteva {

SerialQueue::SerialQueue() : thread_([this] { loop(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        entries_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

SerialQueue::Ticket SerialQueue::postAfter(std::chrono::milliseconds delay,
                                           std::function<void()> task) {
    Ticket ticket;
    ticket.flag_ = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return ticket;
        entries_.push_back({std::chrono::steady_clock::now() + delay, nextOrder_++, ticket.flag_,
                            std::move(task)});
    }
    wake_.notify_all();
    return ticket;
}

// Runs the earliest due task (ties in posting order), one at a time.
void SerialQueue::loop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        auto next =
            std::min_element(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
                return a.due != b.due ? a.due < b.due : a.order < b.order;
            });
        if (next == entries_.end()) {
            wake_.wait(lock);
            continue;
        }
        if (const auto due = next->due; due > std::chrono::steady_clock::now()) {
            // A copy: wait_until reads its deadline again after waking, and a post made
            // meanwhile may have moved the entries to new storage.
            wake_.wait_until(lock, due);
            continue;
        }
        Entry entry = std::move(*next);
        entries_.erase(next);
        if (entry.cancelled->load()) continue;
        lock.unlock();
        entry.task();
        lock.lock();
    }
}

} // namespace sonteva
