// A real page whose web process ends a second after every load: it is loaded again after 1 s,
// then 5 s, then 30 s, not every second for ever.

#include "support/WebViewTestSupport.hpp"

#include <glibmm/main.h>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class PageRecoveryStormTest : public WebViewTest {};

TEST_F(PageRecoveryStormTest, APageThatCrashesAfterEveryLoadIsReloadedLessAndLessOften) {
    std::vector<PageHealth> states;
    auto recorded = inputs(kSessionA);
    recorded.onHealthChanged = [&](const PageHealth& health) { states.push_back(health); };
    auto& host = open(recorded);
    int crashes = 0;
    int handled = 0;
    sigc::connection pending;
    // Ends the web process a second after each load, as a page that takes it down would.
    const auto crashAfterEachLoad = [&] {
        if (loads(host).finished > handled) {
            handled = loads(host).finished;
            pending = Glib::signal_timeout().connect(
                [&] {
                    ++crashes;
                    webkit_web_view_terminate_web_process(host.webView());
                    return false;
                },
                1000);
        }
    };
    ASSERT_TRUE(runMainLoopUntil(
        [&] {
            crashAfterEachLoad();
            return crashes == 3;
        },
        25s))
        << "loads: " << loads(host).finished;
    // Waits of 1 s and 5 s so far; the next one is 30 s, and nothing loads meanwhile.
    runMainLoopUntil(
        [&] {
            crashAfterEachLoad();
            return loads(host).finished > 3;
        },
        5s);
    pending.disconnect();
    EXPECT_EQ(loads(host).finished, 3);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), (PageHealth{PageHealthState::Crashed, "", true}));
    // Between the crashes the page was up, but only settling: still the same break.
    EXPECT_NE(
        std::ranges::find(states, PageHealth{PageHealthState::Healthy, "", false, false, true}),
        states.end());
}

} // namespace
} // namespace aurelo::test
