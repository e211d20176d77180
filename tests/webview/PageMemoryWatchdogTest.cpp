// Real pages that allocate without bound, beside a quiet one, measured through their own web
// processes in /proc: the hidden one is reloaded, the shown one only offered a reload, and the
// quiet account's page never notices.

#include "viewmodels/PageMemoryWatchdog.hpp"
#include "support/WebViewTestSupport.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSessionC = "33333333-3333-4333-8333-333333333333";
constexpr std::uint64_t kCeilingKiB = 300 * 1024;

class PageMemoryWatchdogTest : public WebViewTest {
protected:
    ChatWebView& openMeasured(const std::string& id, const std::string& path) {
        auto measured = inputs(id, path);
        measured.onMemoryMeasured = [this, id](std::uint64_t kib) {
            peakKiB[id] = std::max(peakKiB[id], kib);
            lastKiB[id] = kib;
            watchdog.measured(id, kib);
        };
        measured.onHealthChanged = [this, id](const PageHealth& health) {
            if (health.state != PageHealthState::Healthy)
                breaks.push_back(id);
        };
        return *(hosts[id] = &open(measured));
    }

    std::string shown = kSessionC;
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
    std::vector<std::string> breaks; // accounts whose page reported anything but healthy
};

TEST_F(PageMemoryWatchdogTest, TheHiddenRunawayIsReloadedTheShownOneOfferedTheQuietOneUntouched) {
    environment->memoryCheckInterval = 300ms;
    watchdog.signalReload().connect([this](const std::string& id) {
        reloads.push_back(id);
        hosts.at(id)->reload();
    });
    auto& quiet = openMeasured(kSessionB, "/chat.html");
    auto& hidden = openMeasured(kSessionA, "/runaway.html");
    auto& onShow = openMeasured(kSessionC, "/runaway.html");
    for (auto* host : {&quiet, &hidden, &onShow})
        ASSERT_TRUE(waitForLoad(*host));
    ASSERT_TRUE(evaluate(quiet, "window.untouched = 'yes'", nullptr));

    ASSERT_TRUE(runMainLoopUntil(
        [&] { return !reloads.empty() && watchdog.offer(kSessionC).has_value(); }, 30s))
        << "peaks " << peakKiB[kSessionA] << " and " << peakKiB[kSessionC] << " KiB";
    EXPECT_EQ(reloads, std::vector<std::string>{kSessionA});
    ASSERT_TRUE(waitForLoad(hidden, 2));
    EXPECT_EQ(watchdog.tabNote(kSessionA), PageMemoryWatchdog::kReloadedNote);
    // The reload gave the memory back (the page stays quiet once reloaded), and ending the
    // process to do so was no crash.
    EXPECT_TRUE(runMainLoopUntil([&] { return lastKiB[kSessionA] < kCeilingKiB; }, 10s))
        << lastKiB[kSessionA] << " KiB";
    EXPECT_TRUE(breaks.empty());

    EXPECT_TRUE(watchdog.offer(kSessionC)->ends_with("，超过上限 300 MB"))
        << *watchdog.offer(kSessionC);
    runMainLoopFor(1s);
    EXPECT_EQ(loads(onShow).finished, 1) << "the page on show is never reloaded unasked";
    watchdog.reloadChosen(kSessionC);
    EXPECT_TRUE(waitForLoad(onShow, 2));
    EXPECT_TRUE(runMainLoopUntil([&] { return lastKiB[kSessionC] < kCeilingKiB; }, 10s));

    EXPECT_GT(peakKiB[kSessionB], 0u) << "its own process was found and measured";
    EXPECT_LT(peakKiB[kSessionB], kCeilingKiB);
    EXPECT_EQ(loads(quiet).finished, 1);
    EXPECT_EQ(watchdog.tabNote(kSessionB), std::nullopt);
    EXPECT_EQ(evaluate(quiet, "window.untouched", nullptr), R"("yes")");
}

} // namespace
} // namespace aurelo::test
