// Real pages that break and come back by themselves: a web process that ends, and a proxy that
// stops and starts again. The page keeps reporting its unread count afterwards.

#include "support/LoopbackProxy.hpp"
#include "support/WebViewTestSupport.hpp"

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;
using PageHealthMonitorTest = WebViewTest;

struct HealthLog {
    std::vector<PageHealth> states;
    std::vector<int> counts;
    PageHealth last() const { return states.empty() ? PageHealth{} : states.back(); }
    bool saw(PageHealthState state) const {
        return std::ranges::any_of(states, [&](const PageHealth& h) { return h.state == state; });
    }
};

ChatWebViewInputs recorded(ChatWebViewInputs inputs, HealthLog& log) {
    inputs.onHealthChanged = [&log](const PageHealth& health) { log.states.push_back(health); };
    inputs.onUnreadCountChanged = [&log](int count) { log.counts.push_back(count); };
    return inputs;
}

TEST_F(PageHealthMonitorTest, AnEndedWebProcessIsReloadedAndTheBridgeAnswersAgain) {
    HealthLog log;
    auto& host = open(recorded(inputs(kSessionA), log));
    ASSERT_TRUE(waitForLoad(host));

    webkit_web_view_terminate_web_process(host.webView());
    ASSERT_TRUE(runMainLoopUntil([&] { return log.saw(PageHealthState::Crashed); }, 5s));
    EXPECT_EQ(log.states.front(), (PageHealth{PageHealthState::Crashed, "", true}));
    ASSERT_TRUE(runMainLoopUntil([&] { return log.last() == PageHealth{}; }, 15s))
        << "reloaded after a second and healthy again";

    evaluate(host, "window.aureloPost({kind: 'unread', count: 4})");
    ASSERT_TRUE(runMainLoopUntil([&] { return !log.counts.empty(); }, 5s));
    EXPECT_EQ(log.counts.back(), 4);
}

TEST_F(PageHealthMonitorTest, AStoppedProxyShowsTheReasonAndThePageRecoversWhenItIsBack) {
    auto proxy = std::make_unique<LoopbackProxy>(LoopbackProxy::Kind::Socks5);
    const auto port = proxy->port();
    auto proxied = inputs(kSessionA);
    proxied.proxyType = "socks5";
    proxied.proxyHost = "127.0.0.1";
    proxied.proxyPort = port;
    proxied.pageURL = server.url("/chat.html", "proxied-chat.invalid");
    HealthLog log;
    auto& host = open(recorded(proxied, log));
    ASSERT_TRUE(waitForLoad(host)) << loads(host).lastFailure;

    proxy.reset();
    webkit_web_view_reload(host.webView());
    ASSERT_TRUE(runMainLoopUntil([&] { return log.saw(PageHealthState::NetworkError); }, 10s));
    const PageHealth failed = *std::ranges::find(log.states, PageHealthState::NetworkError,
                                                 &PageHealth::state);
    EXPECT_EQ(failed.reason, "无法连接代理");
    EXPECT_TRUE(failed.recovering);
    // Never a blank page: the page area says what is wrong.
    EXPECT_TRUE(waitForValue(host, "document.body.innerText.includes('网络异常：无法连接代理')",
                             "true", nullptr));

    proxy = std::make_unique<LoopbackProxy>(LoopbackProxy::Kind::Socks5, port);
    ASSERT_TRUE(runMainLoopUntil([&] { return log.last() == PageHealth{}; }, 20s))
        << "retried on its back-off through the proxy, which is back";
    EXPECT_TRUE(waitForValue(host, "document.title", R"("Fixture chat")", nullptr));
    for (const auto& destination : proxy->destinations())
        EXPECT_EQ(destination.host, "proxied-chat.invalid") << "nothing went around the proxy";
}

} // namespace
} // namespace aurelo::test
