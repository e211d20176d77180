// The memory watchdog's decisions: which page is reloaded, put to sleep or only offered a reload,
// and what its tab and bar say, on a clock the test drives.

#include "viewmodels/PageMemoryWatchdog.hpp"

#include <gtest/gtest.h>

#include <set>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;
using Watchdog = PageMemoryWatchdog;
constexpr std::uint64_t kGiB = 1024 * 1024;

class PageMemoryWatchdogTest : public ::testing::Test {
protected:
    PageMemoryWatchdogTest() {
        watchdog.signalReload().connect([this](const std::string& id) { reloads.push_back(id); });
    }

    std::optional<std::uint64_t> ceiling = kGiB;
    std::string shown = "shown";
    std::set<std::string> hibernating;
    std::vector<std::string> reloads;
    std::vector<std::string> putToSleep;
    Watchdog::Clock::time_point now{};
    Watchdog watchdog{{
        .ceilingKiB = [this] { return ceiling; },
        .isShown = [this](const std::string& id) { return id == shown; },
        .hibernates = [this](const std::string& id) { return hibernating.contains(id); },
        .hibernateNow = [this](const std::string& id) { putToSleep.push_back(id); },
        .now = [this] { return now; },
    }};
};

TEST_F(PageMemoryWatchdogTest, AHiddenPageOverItsCeilingIsReloadedAtMostEveryTenMinutes) {
    watchdog.measured("hidden", kGiB); // at the ceiling is not over it
    watchdog.measured("hidden", kGiB + 1);
    EXPECT_EQ(reloads, std::vector<std::string>{"hidden"});
    EXPECT_EQ(watchdog.tabNote("hidden"), Watchdog::kReloadedNote);
    EXPECT_EQ(watchdog.offer("hidden"), std::nullopt);

    // Heavy again soon after: said on the tab, not reloaded into a storm.
    now += 9min;
    watchdog.measured("hidden", 2 * kGiB);
    EXPECT_EQ(reloads.size(), 1u);
    EXPECT_EQ(watchdog.tabNote("hidden"), Watchdog::kStillOverNote);
    now += 1min;
    watchdog.measured("hidden", 2 * kGiB);
    EXPECT_EQ(reloads.size(), 2u);

    // Under its ceiling the note stays until the account is seen.
    watchdog.measured("hidden", kGiB / 2);
    EXPECT_EQ(watchdog.tabNote("hidden"), Watchdog::kReloadedNote);
    shown = "hidden";
    watchdog.shownChanged();
    EXPECT_EQ(watchdog.tabNote("hidden"), std::nullopt);
}

TEST_F(PageMemoryWatchdogTest, AnAccountThatHibernatesSleepsInsteadAndUnlimitedIsNeverOver) {
    hibernating = {"sleepy"};
    watchdog.measured("sleepy", 3 * kGiB);
    EXPECT_EQ(putToSleep, std::vector<std::string>{"sleepy"});
    EXPECT_EQ(watchdog.tabNote("sleepy"), Watchdog::kHibernatedNote);
    ceiling = std::nullopt; // "不限"
    watchdog.measured("hidden", 64 * kGiB);
    EXPECT_TRUE(reloads.empty());
    EXPECT_EQ(watchdog.tabNote("hidden"), std::nullopt);
}

TEST_F(PageMemoryWatchdogTest, TheShownPageIsOnlyOfferedAReloadAndTheOthersNeverNotice) {
    watchdog.measured("other", kGiB / 4);
    watchdog.measured("shown", kGiB + 400 * 1024);
    EXPECT_TRUE(reloads.empty());
    EXPECT_EQ(watchdog.offer("shown"), "此页面占用内存 1.4 GB，超过上限 1 GB");
    EXPECT_EQ(watchdog.tabNote("shown"), std::nullopt);
    EXPECT_EQ(watchdog.offer("other"), std::nullopt);
    EXPECT_EQ(watchdog.tabNote("other"), std::nullopt);

    // The agent chooses; a click on a bar that is gone does nothing.
    watchdog.reloadChosen("other");
    EXPECT_TRUE(reloads.empty());
    watchdog.reloadChosen("shown");
    EXPECT_EQ(reloads, std::vector<std::string>{"shown"});
    EXPECT_EQ(watchdog.offer("shown"), std::nullopt);
    watchdog.reloadChosen("shown");
    EXPECT_EQ(reloads.size(), 1u);

    // An offer not taken goes with the page out of sight; hidden, the page is reloaded.
    watchdog.measured("shown", 2 * kGiB);
    shown = "other";
    watchdog.shownChanged();
    EXPECT_EQ(watchdog.offer("shown"), std::nullopt);
    watchdog.measured("shown", 2 * kGiB);
    EXPECT_EQ(reloads.size(), 2u);
}

} // namespace
} // namespace aurelo::test
