// The worker's bound and its hand-back: waiting jobs beyond the bound are refused at once, every
// accepted job's completion runs on the asking thread's loop, and a worker destroyed with a job
// still running neither blocks nor loses that job's completion.

#include "platform/BackgroundWorker.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace aurelo {
namespace {

void iterateUntil(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        g_main_context_iteration(nullptr, FALSE), std::this_thread::yield();
}

TEST(BackgroundWorker, RefusesBeyondItsBoundAndCompletesOnTheCallingThread) {
    BackgroundWorker worker(1, 2);
    std::atomic<bool> release{false};
    std::vector<int> done;
    auto caller = std::this_thread::get_id();
    bool allOnCaller = true;
    auto job = [&](int n) {
        return worker.run(
            [&release] {
                while (!release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            },
            [&, n] {
                allOnCaller = allOnCaller && std::this_thread::get_id() == caller;
                done.push_back(n);
            });
    };
    EXPECT_TRUE(job(1));
    EXPECT_TRUE(job(2));
    EXPECT_FALSE(job(3)) << "a third job must not wait behind two";
    EXPECT_EQ(worker.outstanding(), 2u);
    release = true;
    iterateUntil([&] { return done.size() == 2; });
    EXPECT_EQ(done, (std::vector<int>{1, 2}));
    EXPECT_TRUE(allOnCaller);
    EXPECT_EQ(worker.outstanding(), 0u);
    EXPECT_TRUE(job(4)) << "room again once the work is done";
    iterateUntil([&] { return done.size() == 3; });
}

TEST(BackgroundWorker, AJobRunningWhenTheWorkerGoesStillCompletes) {
    std::atomic<bool> started{false}, release{false};
    bool completed = false;
    {
        BackgroundWorker worker(1);
        worker.run(
            [&] {
                started = true;
                while (!release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            },
            [&] { completed = true; });
        while (!started)
            std::this_thread::yield();
    } // must return although the job is still running
    release = true;
    iterateUntil([&] { return completed; });
    EXPECT_TRUE(completed);
}

} // namespace
} // namespace aurelo
