#pragma once
// A bounded hand-over of blocks between the stages of the streaming route (reading,
// converting, writing), so that the stages overlap while memory stays at a few blocks.
// close() ends the stream normally; abort() makes both sides give up at once.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace sonteva {

template <typename T> class BlockQueue {
public:
    explicit BlockQueue(size_t capacity) : capacity_(capacity) {}

    // False when the queue was aborted (the item is dropped).
    bool push(T item) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return aborted_ || items_.size() < capacity_; });
        if (aborted_) return false;
        items_.push_back(std::move(item));
        changed_.notify_all();
        return true;
    }

    // The next item; nothing once the queue is closed and drained, or aborted.
    std::optional<T> pop() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return aborted_ || closed_ || !items_.empty(); });
        if (aborted_ || items_.empty()) return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        changed_.notify_all();
        return item;
    }

    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

    void abort() {
        std::lock_guard lock(mutex_);
        aborted_ = true;
        items_.clear();
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<T> items_;
    const size_t capacity_;
    bool closed_ = false;
    bool aborted_ = false;
};

} // namespace sonteva
