#include "batch/channel_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

using namespace sonteva;

TEST(ChannelPool, RunsEveryTaskOnceAndWaits) {
    for (int workers : {0, 1, 3}) {
        ChannelPool pool(workers);
        for (int round = 0; round < 50; ++round) {
            std::vector<std::atomic<int>> hits(7);
            pool.run(7, [&](int c) { hits[c]++; });
            for (auto& h : hits)
                ASSERT_EQ(h.load(), 1);
        }
        pool.run(0, [](int) { FAIL(); });
    }
}

TEST(ChannelPool, FailureSurfacesAfterAllTasksEnded) {
    ChannelPool pool(2);
    std::atomic<int> finished{0};
    EXPECT_THROW(pool.run(6,
                          [&](int c) {
                              if (c == 2) throw std::runtime_error("channel 2 failed");
                              finished++;
                          }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 5);
    // The pool stays usable after a failure.
    std::atomic<int> again{0};
    pool.run(4, [&](int) { again++; });
    EXPECT_EQ(again.load(), 4);
}
