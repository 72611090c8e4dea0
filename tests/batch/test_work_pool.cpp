#include "batch/work_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace sonteva;

TEST(WorkPool, RunsEveryTaskOnceAndWaits) {
    for (int threads : {1, 2, 5}) {
        WorkPool pool(threads);
        EXPECT_EQ(pool.threads(), threads);
        for (int round = 0; round < 50; ++round) {
            std::vector<std::atomic<int>> hits(7);
            pool.run(7, [&](int c) { hits[c]++; });
            for (auto& h : hits)
                ASSERT_EQ(h.load(), 1);
        }
        pool.run(0, [](int) { FAIL(); });
    }
}

TEST(WorkPool, FailureSurfacesAfterAllTasksEnded) {
    WorkPool pool(2);
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

TEST(WorkPool, SeveralCallersShareThePoolWithoutExceedingIt) {
    // Four callers at once on a pool of two threads: every task runs, never more than two
    // at the same time.
    WorkPool pool(2);
    std::atomic<int> running{0}, most{0}, done{0};
    std::vector<std::thread> callers;
    for (int k = 0; k < 4; ++k)
        callers.emplace_back([&] {
            pool.run(25, [&](int) {
                const int now = ++running;
                for (int seen = most; seen < now && !most.compare_exchange_weak(seen, now);) {
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                --running;
                ++done;
            });
        });
    for (auto& c : callers)
        c.join();
    EXPECT_EQ(done.load(), 100);
    EXPECT_LE(most.load(), 2);
}

TEST(Strand, TasksRunInOrderOneAtATime) {
    WorkPool pool(3);
    std::vector<std::unique_ptr<Strand>> strands;
    for (int s = 0; s < 4; ++s)
        strands.push_back(std::make_unique<Strand>(pool));
    std::vector<std::vector<int>> seen(4);
    std::vector<std::atomic<int>> inside(4);
    std::atomic<bool> overlapped{false};
    std::atomic<int> left{4 * 200};
    for (int i = 0; i < 200; ++i)
        for (size_t s = 0; s < strands.size(); ++s)
            strands[s]->post([&, s, i] {
                if (++inside[s] > 1) overlapped = true;
                seen[s].push_back(i); // unguarded: the strand is the guard
                --inside[s];
                --left;
            });
    while (left > 0)
        std::this_thread::yield();
    EXPECT_FALSE(overlapped);
    for (const auto& order : seen) {
        ASSERT_EQ(order.size(), 200u);
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(order[size_t(i)], i);
    }
}
