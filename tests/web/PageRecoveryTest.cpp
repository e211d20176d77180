// When a page that broke is loaded again, and when its break is over: a page that comes up and
// breaks again soon after is still in the same break, so its waits keep growing.

#include "web/PageHealth.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;
using Clock = PageHealthTracker::Clock;

enum class Event { Crash, LoadFails, Loads, Timer };

struct Step {
    int at; // seconds since the start
    Event event;
    // The wait before the next attempt (failures), or whether the page is settling (loads and
    // the recovery timer: 1 settling, 0 recovered).
    int expected;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
};

TEST(PageRecovery, WaitsGrowUntilThePageHasStayedUpForAMinute) {
    const Case cases[] = {
        {"crashes a second after each load",
         {{0, Event::Crash, 1},
          {1, Event::Loads, 1},
          {2, Event::Crash, 5},
          {7, Event::Loads, 1},
          {8, Event::Crash, 30},
          {38, Event::Loads, 1},
          {39, Event::Crash, 300},
          {339, Event::Loads, 1},
          {340, Event::Crash, 300}}},
        {"stays up a minute, then breaks anew",
         {{0, Event::Crash, 1},
          {1, Event::Loads, 1},
          {60, Event::Timer, 1},
          {61, Event::Timer, 0},
          {100, Event::Crash, 1}}},
        {"the recovery timer came late",
         {{0, Event::LoadFails, 1}, {1, Event::Loads, 1}, {90, Event::LoadFails, 1}}},
        {"failed loads and crashes share one break",
         {{0, Event::LoadFails, 1},
          {1, Event::LoadFails, 5},
          {6, Event::Loads, 1},
          {30, Event::Crash, 30},
          {60, Event::Loads, 1},
          {100, Event::Loads, 1},
          {119, Event::Timer, 1},
          {120, Event::Timer, 0}}},
        {"a page that never broke is not settling", {{0, Event::Loads, 0}, {1, Event::Crash, 1}}},
    };
    for (const auto& c : cases) {
        Clock::time_point now{};
        PageHealthTracker tracker([&] { return now; });
        for (const auto& step : c.steps) {
            now = Clock::time_point{} + std::chrono::seconds(step.at);
            const std::string where = std::string(c.name) + " @" + std::to_string(step.at) + "s";
            switch (step.event) {
            case Event::Crash:
                EXPECT_EQ(tracker.processEnded(), std::chrono::seconds(step.expected)) << where;
                break;
            case Event::LoadFails:
                EXPECT_EQ(tracker.loadFailed("连接超时"), std::chrono::seconds(step.expected))
                    << where;
                break;
            case Event::Loads:
                tracker.reloadStarted();
                tracker.loadFinished();
                EXPECT_EQ(tracker.health().settling, step.expected == 1) << where;
                EXPECT_EQ(tracker.health().line(), "正常") << where;
                break;
            case Event::Timer:
                EXPECT_EQ(tracker.checkRecovered(), step.expected == 0) << where;
                EXPECT_EQ(tracker.health().settling, step.expected == 1) << where;
                break;
            }
        }
    }
}

} // namespace
} // namespace aurelo::test
