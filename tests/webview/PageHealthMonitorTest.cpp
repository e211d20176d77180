// Real pages that break and come back by themselves: a web process that ends, and a proxy that
// stops and starts again. The page keeps reporting its unread count afterwards, and a page that
// keeps breaking is loaded again less and less often.

#include "support/LoopbackProxy.hpp"
#include "support/WebViewTestSupport.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

class PageHealthMonitorTest : public WebViewTest {
protected:
    ChatWebView& openRecorded(ChatWebViewInputs inputs) {
        inputs.onHealthChanged = [this](const PageHealth& health) { states.push_back(health); };
        inputs.onUnreadCountChanged = [this](int count) { counts.push_back(count); };
        return open(inputs);
    }
    std::optional<PageHealth> first(PageHealthState state) const {
        const auto found = std::ranges::find(states, state, &PageHealth::state);
        return found == states.end() ? std::nullopt : std::optional(*found);
    }
    bool waitUntilHealthy(std::chrono::milliseconds deadline) {
        return runMainLoopUntil(
            [&] {
                return !states.empty() && states.back().state == PageHealthState::Healthy &&
                       !states.back().recovering && !states.back().connecting;
            },
            deadline);
    }

    std::vector<PageHealth> states;
    std::vector<int> counts;
};

TEST_F(PageHealthMonitorTest, AnEndedWebProcessIsReloadedAndTheBridgeAnswersAgain) {
    auto& host = openRecorded(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(host));

    webkit_web_view_terminate_web_process(host.webView());
    ASSERT_TRUE(runMainLoopUntil([&] { return !states.empty(); }, 5s));
    EXPECT_EQ(states.front(), (PageHealth{PageHealthState::Crashed, "", true}));
    ASSERT_TRUE(waitUntilHealthy(15s)) << "reloaded after a second and healthy again";

    evaluate(host, "window.aureloPost({kind: 'unread', count: 4})");
    ASSERT_TRUE(runMainLoopUntil([&] { return !counts.empty(); }, 5s));
    EXPECT_EQ(counts.back(), 4);
}

TEST_F(PageHealthMonitorTest, AStoppedProxyShowsTheReasonAndThePageRecoversWhenItIsBack) {
    auto proxy = std::make_unique<LoopbackProxy>(LoopbackProxy::Kind::Socks5);
    const auto port = proxy->port();
    auto proxied = inputs(kSessionA);
    proxied.proxyType = "socks5";
    proxied.proxyHost = "127.0.0.1";
    proxied.proxyPort = port;
    proxied.pageURL = server.url("/chat.html", "proxied-chat.invalid");
    auto& host = openRecorded(proxied);
    ASSERT_TRUE(waitForLoad(host)) << loads(host).lastFailure;

    proxy.reset();
    webkit_web_view_reload(host.webView());
    ASSERT_TRUE(
        runMainLoopUntil([&] { return first(PageHealthState::NetworkError).has_value(); }, 10s));
    EXPECT_EQ(first(PageHealthState::NetworkError),
              (PageHealth{PageHealthState::NetworkError, "无法连接代理", true}));
    // Never a blank page: the page area says what is wrong.
    EXPECT_TRUE(waitForValue(host, "document.body.innerText.includes('网络异常：无法连接代理')",
                             "true", nullptr));

    proxy = std::make_unique<LoopbackProxy>(LoopbackProxy::Kind::Socks5, port);
    ASSERT_TRUE(waitUntilHealthy(20s))
        << "retried on its back-off through the proxy, which is back";
    EXPECT_TRUE(waitForValue(host, "document.title", R"("Fixture chat")", nullptr));
    for (const auto& destination : proxy->destinations())
        EXPECT_EQ(destination.host, "proxied-chat.invalid") << "nothing went around the proxy";
}

// A web process that ends a second after every load: the page is loaded again after 1 s, then
// 5 s, then 30 s, not every second for ever.
TEST_F(PageHealthMonitorTest, APageThatCrashesAfterEveryLoadIsReloadedLessAndLessOften) {
    auto& host = openRecorded(inputs(kSessionA));
    int crashes = 0;
    std::optional<std::chrono::steady_clock::time_point> loadedAt;
    // Ends the web process a second after each load, as a page that takes it down would.
    const auto crashAfterEachLoad = [&] {
        const auto now = std::chrono::steady_clock::now();
        if (!loadedAt && loads(host).finished > crashes)
            loadedAt = now;
        if (loadedAt && now - *loadedAt >= 1s) {
            ++crashes;
            loadedAt.reset();
            webkit_web_view_terminate_web_process(host.webView());
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
