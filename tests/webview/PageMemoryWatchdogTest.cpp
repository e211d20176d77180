// A real page that allocates without bound, beside a quiet one on show, measured through their own
// web processes in /proc: the runaway is reloaded and the quiet account's page never notices.
// Which page is reloaded and which only offered a reload is decided in the view model.

#include "viewmodels/PageMemoryWatchdog.hpp"
#include "support/WebViewTestSupport.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

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

    PageMemoryWatchdog watchdog{{
        .ceilingKiB = [] { return std::optional(kCeilingKiB); },
        .isShown = [](const std::string& id) { return id == kSessionB; },
        .hibernates = [](const std::string&) { return false; },
        .hibernateNow = [](const std::string&) {},
    }};
    std::map<std::string, ChatWebView*> hosts;
    std::map<std::string, std::uint64_t> peakKiB;
    std::map<std::string, std::uint64_t> lastKiB;
    std::vector<std::string> reloads;
    std::vector<std::string> breaks; // accounts whose page reported anything but healthy
};

TEST_F(PageMemoryWatchdogTest, TheRunawayIsReloadedAndTheQuietOneUntouched) {
    environment->memoryCheckInterval = 300ms;
    watchdog.signalReload().connect([this](const std::string& id) {
        reloads.push_back(id);
        hosts.at(id)->reload();
    });
    auto& quiet = openMeasured(kSessionB, "/chat.html");
    auto& hidden = openMeasured(kSessionA, "/runaway.html");
    for (auto* host : {&quiet, &hidden})
        ASSERT_TRUE(waitForLoad(*host));
    ASSERT_TRUE(evaluate(quiet, "window.untouched = 'yes'", nullptr));

    ASSERT_TRUE(runMainLoopUntil([&] { return !reloads.empty(); }, 30s))
        << "peak " << peakKiB[kSessionA] << " KiB";
    EXPECT_EQ(reloads, std::vector<std::string>{kSessionA});
    ASSERT_TRUE(waitForLoad(hidden, 2));
    EXPECT_EQ(watchdog.tabNote(kSessionA), PageMemoryWatchdog::kReloadedNote);
    // The reload gave the memory back (the page stays quiet once reloaded), and ending the
    // process to do so was no crash.
    EXPECT_TRUE(runMainLoopUntil([&] { return lastKiB[kSessionA] < kCeilingKiB; }, 10s))
        << lastKiB[kSessionA] << " KiB";
    EXPECT_TRUE(breaks.empty());

    EXPECT_GT(peakKiB[kSessionB], 0u) << "its own process was found and measured";
    EXPECT_LT(peakKiB[kSessionB], kCeilingKiB);
    EXPECT_EQ(loads(quiet).finished, 1);
    EXPECT_EQ(watchdog.tabNote(kSessionB), std::nullopt);
    EXPECT_EQ(evaluate(quiet, "window.untouched", nullptr), R"("yes")");
}

} // namespace
} // namespace aurelo::test
