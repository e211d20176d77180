// A real page that allocates without bound, beside a quiet one: measured through its own web
// process in /proc, it is reloaded while hidden and only offered for reloading while shown, and
// the other account's page never notices.

#include "viewmodels/PageMemoryWatchdog.hpp"
#include "support/WebViewTestSupport.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class PageMemoryWatchdogTest : public WebViewTest {
protected:
    static constexpr std::uint64_t kCeilingKiB = 300 * 1024;

    PageMemoryWatchdogTest() {
        environment->memoryCheckInterval = 300ms;
        watchdog.signalReload().connect([this](const std::string& id) {
            reloads.push_back(id);
            if (auto it = hosts.find(id); it != hosts.end())
                it->second->reload();
        });
    }

    ChatWebView& openMeasured(const std::string& id, const std::string& path) {
        auto measured = inputs(id, path);
        measured.onHealthChanged = [this, id](const PageHealth& health) {
            if (health.state != PageHealthState::Healthy)
                breaks.push_back(id);
        };
        measured.onMemoryMeasured = [this, id](std::uint64_t kib) {
            peakKiB[id] = std::max(peakKiB[id], kib);
            lastKiB[id] = kib;
            watchdog.measured(id, kib);
        };
        return *(hosts[id] = &open(measured));
    }

    std::string shown;
    PageMemoryWatchdog watchdog{{
        .ceilingKiB = [] { return std::optional(kCeilingKiB); },
        .isShown = [this](const std::string& id) { return id == shown; },
        .hibernates = [](const std::string&) { return false; },
        .hibernateNow = [](const std::string&) {},
    }};
    std::map<std::string, ChatWebView*> hosts;
    std::map<std::string, std::uint64_t> peakKiB;
    std::map<std::string, std::uint64_t> lastKiB;
    std::vector<std::string> reloads;
    // Accounts whose page reported anything but healthy.
    std::vector<std::string> breaks;
};

TEST_F(PageMemoryWatchdogTest, AHiddenRunawayPageIsReloadedAndTheOtherPageNeverNotices) {
    shown = kSessionB;
    auto& quiet = openMeasured(kSessionB, "/chat.html");
    auto& runaway = openMeasured(kSessionA, "/runaway.html");
    ASSERT_TRUE(waitForLoad(quiet));
    ASSERT_TRUE(waitForLoad(runaway));
    ASSERT_TRUE(evaluate(quiet, "window.untouched = 'yes'", nullptr));

    ASSERT_TRUE(runMainLoopUntil([&] { return !reloads.empty(); }, 30s))
        << "peak " << peakKiB[kSessionA] << " KiB";
    EXPECT_EQ(reloads, std::vector<std::string>{kSessionA});
    ASSERT_TRUE(waitForLoad(runaway, 2));
    EXPECT_EQ(watchdog.tabNote(kSessionA), PageMemoryWatchdog::kReloadedNote);
    EXPECT_EQ(watchdog.offer(kSessionA), std::nullopt);

    // The reload gave the memory back (the page stays quiet once reloaded).
    EXPECT_TRUE(runMainLoopUntil([&] { return lastKiB[kSessionA] < kCeilingKiB; }, 10s))
        << lastKiB[kSessionA] << " KiB";
    EXPECT_EQ(reloads.size(), 1u);
    EXPECT_TRUE(breaks.empty()) << "ending the process to reload it is no crash";

    EXPECT_GT(peakKiB[kSessionB], 0u) << "its own process was found and measured";
    EXPECT_LT(peakKiB[kSessionB], kCeilingKiB);
    EXPECT_EQ(loads(quiet).finished, 1);
    EXPECT_EQ(watchdog.tabNote(kSessionB), std::nullopt);
    EXPECT_EQ(evaluate(quiet, "window.untouched", nullptr), R"("yes")");
}

TEST_F(PageMemoryWatchdogTest, AShownRunawayPageIsOfferedForReloadingAndNeverReloadedUnasked) {
    shown = kSessionA;
    auto& runaway = openMeasured(kSessionA, "/runaway.html");
    ASSERT_TRUE(waitForLoad(runaway));

    ASSERT_TRUE(runMainLoopUntil([&] { return watchdog.offer(kSessionA).has_value(); }, 30s))
        << "peak " << peakKiB[kSessionA] << " KiB";
    EXPECT_TRUE(watchdog.offer(kSessionA)->starts_with("此页面占用内存 "))
        << *watchdog.offer(kSessionA);
    EXPECT_TRUE(watchdog.offer(kSessionA)->ends_with("，超过上限 300 MB"))
        << *watchdog.offer(kSessionA);
    runMainLoopFor(1500ms);
    EXPECT_TRUE(reloads.empty());
    EXPECT_EQ(loads(runaway).finished, 1);

    watchdog.reloadChosen(kSessionA);
    EXPECT_EQ(reloads, std::vector<std::string>{kSessionA});
    EXPECT_TRUE(waitForLoad(runaway, 2));
    EXPECT_EQ(watchdog.offer(kSessionA), std::nullopt);
    EXPECT_TRUE(runMainLoopUntil([&] { return lastKiB[kSessionA] < kCeilingKiB; }, 10s))
        << lastKiB[kSessionA] << " KiB";
}

} // namespace
} // namespace aurelo::test
