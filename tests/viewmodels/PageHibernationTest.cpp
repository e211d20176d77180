#include "viewmodels/PageHibernation.hpp"

#include <gtest/gtest.h>

#include <sstream>

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

struct Scenario {
    const char* name;
    std::vector<ChatSession> sessions;
    std::string shownAtStart;
    // Steps separated by ";", each "<minute> <action> [<account>] -> <accounts asleep after it>".
    // Actions: tick, show, hide (a panel covers the pages), now (hibernate now), wake, and
    // B=<minutes>, B=off, B=gone (B's stored option changes, or B is removed).
    std::string steps;
};

TEST(PageHibernation, Scenarios) {
    const std::vector<ChatSession> offOff{account("A", std::nullopt), account("B", std::nullopt)};
    const std::vector<ChatSession> offFifteen{account("A", std::nullopt), account("B", 15)};
    const Scenario scenarios[] = {
        {"a hidden account sleeps when its delay has passed, not before", offFifteen, "A",
         "14 tick ->; 15 tick -> B; 600 tick -> B"},
        {"the account on show never sleeps by itself", offFifteen, "B", "120 tick ->"},
        {"the delay counts from when the account was last shown", offFifteen, "B",
         "10 show A ->; 24 tick ->; 25 tick -> B"},
        {"showing an asleep account wakes it and restarts its delay", offFifteen, "A",
         "15 tick -> B; 20 show B ->; 21 show A ->; 35 tick ->; 36 tick -> B"},
        {"a panel over the pages counts as not shown", offFifteen, "B", "0 hide ->; 15 tick -> B"},
        {"hibernate now puts even the account on show to sleep until it is selected again",
         offFifteen, "A",
         "1 now A -> A; 2 tick -> A; 2 show A -> A; 3 wake A ->; 4 now A -> A; 5 show B -> A; "
         "6 show A ->; 7 now B -> B"},
        {"hibernate now works without automatic hibernation and does not undo itself", offOff, "A",
         "1 now B -> B; 600 tick -> B"},
        {"an unknown account cannot be put to sleep", offFifteen, "A", "1 now nobody ->"},
        {"switching the option on counts from then, not from the last showing", offOff, "A",
         "100 B=5 ->; 104 tick ->; 105 tick -> B"},
        {"switching the option off keeps a sleeping account asleep until shown", offFifteen, "A",
         "15 tick -> B; 16 B=off -> B; 17 show B ->"},
        {"a removed account is forgotten", offFifteen, "A", "15 tick -> B; 16 B=gone ->"},
        {"a delay we do not offer is off",
         {account("A", std::nullopt), account("B", 7)},
         "A",
         "600 tick ->"},
    };

    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        const auto start = Clock::time_point{} + 1000h;
        PageHibernation hibernation;
        auto sessions = scenario.sessions;
        hibernation.setSessions(sessions, start);
        hibernation.setShown(scenario.shownAtStart, start);
        std::istringstream steps(scenario.steps);
        for (std::string step; std::getline(steps, step, ';');) {
            SCOPED_TRACE(step);
            std::istringstream words(step);
            int at = 0;
            std::string action, id, word;
            words >> at >> action >> id;
            if (id != "->")
                words >> word; // the arrow
            std::set<std::string> expected;
            while (words >> word)
                expected.insert(word);
            const auto now = start + std::chrono::minutes(at);
            if (action == "tick")
                hibernation.tick(now);
            else if (action == "show")
                hibernation.setShown(id, now);
            else if (action == "hide")
                hibernation.setShown(std::nullopt, now);
            else if (action == "now")
                hibernation.hibernateNow(id);
            else if (action == "wake")
                hibernation.wake(id, now);
            else {
                const std::string value = action.substr(2);
                if (value == "gone")
                    std::erase_if(sessions, [](const auto& s) { return s.id == "B"; });
                for (auto& s : sessions)
                    if (s.id == "B")
                        s.autoHibernateMinutes =
                            value == "off" ? std::nullopt : std::optional<int>(std::stoi(value));
                hibernation.setSessions(sessions, now);
            }
            EXPECT_EQ(hibernation.hibernated(), expected);
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
