// The render queue's scheduling: due order, posting order for ties, cancellation, and
// posts arriving while the worker sleeps towards a deadline.
#include "preview/serial_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using sonteva::SerialQueue;

TEST(SerialQueue, RunsByDeadlineThenPostingOrderWhilePostsArriveDuringTheWait) {
    std::mutex m;
    std::vector<int> ran;
    std::promise<void> done;
    {
        SerialQueue queue;
        const auto record = [&](int i) {
            return [&, i] {
                std::lock_guard lock(m);
                ran.push_back(i);
            };
        };
        queue.postAfter(60ms, record(1));
        std::this_thread::sleep_for(10ms); // the worker now sleeps towards 60 ms
        // Enough posts to move the pending entries to new storage under the sleeping worker.
        for (int i = 0; i < 200; ++i)
            queue.postAfter(120ms, record(100 + i));
        queue.postAfter(120ms, [&] { done.set_value(); });
        queue.postAfter(30ms, record(0));
        queue.postAfter(30ms, record(2)).cancel();
        ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    }
    ASSERT_EQ(ran.size(), 202u);
    EXPECT_EQ(ran[0], 0);
    EXPECT_EQ(ran[1], 1);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(ran[size_t(2 + i)], 100 + i);
}
