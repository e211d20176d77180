#include "platform/BackgroundWorker.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace aurelo {
namespace {

void waitFor(const std::atomic<bool>& flag) {
    while (!flag)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(BackgroundWorker, RefusesBeyondItsBoundAndCompletesOnTheCallingThread) {
    BackgroundWorker worker(1, 2);
    std::atomic<bool> release{false};
    std::vector<int> done;
    const auto caller = std::this_thread::get_id();
    bool allOnCaller = true;
    auto job = [&](int n) {
        return worker.run([&release] { waitFor(release); },
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
    ASSERT_TRUE(test::runMainLoopUntil([&] { return done.size() == 2; }));
    EXPECT_EQ(done, (std::vector<int>{1, 2}));
    EXPECT_TRUE(allOnCaller);
    EXPECT_EQ(worker.outstanding(), 0u);
    EXPECT_TRUE(job(4)) << "room again once the work is done";
    EXPECT_TRUE(test::runMainLoopUntil([&] { return done.size() == 3; }));
}

TEST(BackgroundWorker, AJobRunningWhenTheWorkerGoesStillCompletes) {
    std::atomic<bool> started{false}, release{false};
    bool completed = false;
    {
        BackgroundWorker worker(1);
        worker.run(
            [&] {
                started = true;
                waitFor(release);
            },
            [&] { completed = true; });
        waitFor(started);
    } // must return although the job is still running
    release = true;
    EXPECT_TRUE(test::runMainLoopUntil([&] { return completed; }));
}

} // namespace
} // namespace aurelo
