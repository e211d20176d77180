#include "viewmodels/PageHibernation.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace aurelo {
namespace {

using namespace std::chrono_literals;
using Clock = PageHibernation::Clock;

ChatSession account(const std::string& id, std::optional<int> minutes) {
    ChatSession session;
    session.id = id;
    session.name = id;
    session.autoHibernateMinutes = minutes;
    return session;
}

// One step of a scenario: at `at` minutes, do something, then expect the accounts asleep.
struct Step {
    int at;
    enum class Do { Tick, Show, ShowNone, HibernateNow, Wake, Sessions } what;
    std::string id;
    std::vector<std::string> asleep;
};

struct Scenario {
    const char* name;
    std::vector<ChatSession> sessions;
    std::string shownAtStart;
    std::vector<Step> steps;
};

TEST(PageHibernation, Scenarios) {
    using D = Step::Do;
    const std::vector<ChatSession> aOffBFifteen{account("A", std::nullopt), account("B", 15)};
    const Scenario scenarios[] = {
        {"off by default: nothing ever sleeps",
         {account("A", std::nullopt), account("B", std::nullopt)},
         "A",
         {{600, D::Tick, "", {}}}},
        {"a hidden account sleeps when its delay has passed, not before",
         aOffBFifteen,
         "A",
         {{14, D::Tick, "", {}}, {15, D::Tick, "", {"B"}}, {600, D::Tick, "", {"B"}}}},
        {"the account on show never sleeps by itself", aOffBFifteen, "B", {{120, D::Tick, "", {}}}},
        {"the delay counts from when the account was last shown",
         aOffBFifteen,
         "B",
         {{10, D::Show, "A", {}}, {24, D::Tick, "", {}}, {25, D::Tick, "", {"B"}}}},
        {"showing an asleep account wakes it and restarts its delay",
         aOffBFifteen,
         "A",
         {{15, D::Tick, "", {"B"}},
          {20, D::Show, "B", {}},
          {21, D::Show, "A", {}},
          {35, D::Tick, "", {}},
          {36, D::Tick, "", {"B"}}}},
        {"a panel over the pages counts as not shown",
         aOffBFifteen,
         "B",
         {{0, D::ShowNone, "", {}}, {15, D::Tick, "", {"B"}}}},
        {"hibernate now puts even the account on show to sleep until it is selected again",
         aOffBFifteen,
         "A",
         {{1, D::HibernateNow, "A", {"A"}},
          {2, D::Tick, "", {"A"}},
          {2, D::Show, "A", {"A"}},
          {3, D::Wake, "A", {}},
          {4, D::HibernateNow, "A", {"A"}},
          {5, D::Show, "B", {"A"}},
          {6, D::Show, "A", {}},
          {7, D::HibernateNow, "B", {"B"}}}},
        {"hibernate now works without automatic hibernation and does not undo itself",
         {account("A", std::nullopt), account("B", std::nullopt)},
         "A",
         {{1, D::HibernateNow, "B", {"B"}}, {600, D::Tick, "", {"B"}}}},
        {"an unknown account cannot be put to sleep",
         aOffBFifteen,
         "A",
         {{1, D::HibernateNow, "nobody", {}}}},
        {"switching the option on counts from then, not from the last showing",
         {account("A", std::nullopt), account("B", std::nullopt)},
         "A",
         {{100, D::Sessions, "B=5", {}}, {104, D::Tick, "", {}}, {105, D::Tick, "", {"B"}}}},
        {"switching the option off keeps a sleeping account asleep until shown",
         aOffBFifteen,
         "A",
         {{15, D::Tick, "", {"B"}}, {16, D::Sessions, "B=off", {"B"}}, {17, D::Show, "B", {}}}},
        {"a removed account is forgotten",
         aOffBFifteen,
         "A",
         {{15, D::Tick, "", {"B"}}, {16, D::Sessions, "B=gone", {}}}},
        {"a delay we do not offer is off",
         {account("A", std::nullopt), account("B", 7)},
         "A",
         {{600, D::Tick, "", {}}}},
    };

    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        const auto start = Clock::time_point{} + 1000h;
        PageHibernation hibernation;
        auto sessions = scenario.sessions;
        hibernation.setSessions(sessions, start);
        hibernation.setShown(scenario.shownAtStart, start);
        for (const auto& step : scenario.steps) {
            const auto now = start + std::chrono::minutes(step.at);
            switch (step.what) {
            case D::Tick:
                hibernation.tick(now);
                break;
            case D::Show:
                hibernation.setShown(step.id, now);
                break;
            case D::ShowNone:
                hibernation.setShown(std::nullopt, now);
                break;
            case D::HibernateNow:
                hibernation.hibernateNow(step.id);
                break;
            case D::Wake:
                hibernation.wake(step.id, now);
                break;
            case D::Sessions: {
                // "B=5", "B=off", "B=gone"
                const std::string value = step.id.substr(2);
                if (value == "gone")
                    std::erase_if(sessions, [](const auto& s) { return s.id == "B"; });
                for (auto& s : sessions)
                    if (s.id == "B")
                        s.autoHibernateMinutes =
                            value == "off" ? std::nullopt : std::optional<int>(std::stoi(value));
                hibernation.setSessions(sessions, now);
                break;
            }
            }
            const std::set<std::string> expected(step.asleep.begin(), step.asleep.end());
            EXPECT_EQ(hibernation.hibernated(), expected) << "at minute " << step.at;
            for (const auto& s : sessions)
                EXPECT_EQ(hibernation.isHibernated(s.id), expected.contains(s.id));
        }
    }
}

TEST(PageHibernation, SignalsEachChangeOnceAndNamesTheNextDueTime) {
    const auto start = Clock::time_point{} + 1000h;
    PageHibernation hibernation;
    std::vector<std::string> changed;
    hibernation.signalChanged().connect([&](const std::string& id) { changed.push_back(id); });
    hibernation.setSessions({account("A", 5), account("B", 30), account("C", std::nullopt)}, start);
    hibernation.setShown(std::string("C"), start);
    EXPECT_EQ(hibernation.nextDue(), start + 5min);

    EXPECT_TRUE(hibernation.tick(start + 5min));
    EXPECT_FALSE(hibernation.tick(start + 6min)) << "already asleep: no second change";
    EXPECT_EQ(changed, std::vector<std::string>{"A"});
    EXPECT_EQ(hibernation.nextDue(), start + 30min);

    EXPECT_FALSE(hibernation.hibernateNow("A"));
    EXPECT_TRUE(hibernation.hibernateNow("B"));
    EXPECT_EQ(hibernation.nextDue(), std::nullopt) << "all asleep or shown";
    hibernation.setShown(std::string("A"), start + 40min);
    EXPECT_EQ(changed, (std::vector<std::string>{"A", "B", "A"}));
    // C, hidden now, has no delay; A is on show; B sleeps.
    EXPECT_EQ(hibernation.nextDue(), std::nullopt);
    hibernation.setShown(std::string("C"), start + 41min);
    EXPECT_EQ(hibernation.nextDue(), start + 46min);
}

} // namespace
} // namespace aurelo
