// "测试代理" against loopback proxies that want a login: every outcome the sheet can show, and
// that the check itself never goes around the proxy.

#include "support/LoopbackProxy.hpp"
#include "support/LoopbackServer.hpp"
#include "support/MainLoopWait.hpp"

#include "web/ProxyCheck.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;
using Kind = LoopbackProxy::Kind;

const LoopbackProxy::Credentials kLogin{"agent", "s3cret:@/"};

std::optional<ProxyCheck::Result>
check(const ProxyRoute& route, const std::string& url,
      std::chrono::milliseconds deadline = ProxyCheck::kDeadline) {
    ProxyCheck proxyCheck;
    std::optional<ProxyCheck::Result> result;
    proxyCheck.start(
        route, url, [&](const ProxyCheck::Result& r) { result = r; }, deadline);
    runMainLoopUntil([&] { return result.has_value(); }, 15s);
    return result;
}

ProxyRoute routeTo(Kind kind, std::uint16_t port, const std::string& password) {
    return **proxyRoute(kind == Kind::Socks5 ? "socks5" : "http", "127.0.0.1", port,
                        kLogin.username, password);
}

TEST(ProxyCheckTest, ReportsTheDelayOrWhyThroughBothKindsOfProxy) {
    LoopbackServer platform;
    // An invented name: only the proxy can resolve it.
    const std::string url = platform.url("/", "platform.invalid");
    const std::string refusedURL = "http://refused.invalid:" + std::to_string(closedLoopbackPort());
    for (Kind kind : {Kind::Socks5, Kind::Http}) {
        SCOPED_TRACE(kind == Kind::Socks5 ? "socks5" : "http");
        LoopbackProxy proxy(kind, 0, kLogin);

        auto ok = check(routeTo(kind, proxy.port(), kLogin.password), url);
        ASSERT_TRUE(ok.has_value());
        EXPECT_TRUE(ok->reachable) << ok->reason;
        EXPECT_TRUE(ok->line().starts_with("代理可用 · 延迟 ")) << ok->line();
        EXPECT_TRUE(ok->line().ends_with(" ms"));
        ASSERT_EQ(proxy.destinations().size(), 1u);
        EXPECT_EQ(proxy.destinations()[0].host, "platform.invalid");

        auto wrong = check(routeTo(kind, proxy.port(), "wrong"), url);
        ASSERT_TRUE(wrong.has_value());
        EXPECT_EQ(wrong->line(), "代理认证失败，请检查代理用户名和密码");

        auto refused = check(routeTo(kind, proxy.port(), kLogin.password), refusedURL);
        ASSERT_TRUE(refused.has_value());
        EXPECT_EQ(refused->line(), "代理拒绝了目标地址");

        auto closed = check(routeTo(kind, closedLoopbackPort(), kLogin.password), url);
        ASSERT_TRUE(closed.has_value());
        EXPECT_EQ(closed->line(), "无法连接代理");
    }
}

TEST(ProxyCheckTest, AProxyThatNeverAnswersTimesOutAndAnAbandonedCheckNeverReports) {
    // A web server reads the proxy's greeting as the start of a request and waits for the rest.
    LoopbackServer silent;
    const auto route = routeTo(Kind::Socks5, silent.port(), kLogin.password);

    auto timedOut = check(route, "https://platform.invalid/", 300ms);
    ASSERT_TRUE(timedOut.has_value());
    EXPECT_EQ(timedOut->line(), "代理测试超时");

    bool reported = false;
    {
        ProxyCheck abandoned;
        abandoned.start(
            route, "https://platform.invalid/", [&](const auto&) { reported = true; }, 200ms);
    }
    runMainLoopFor(500ms);
    EXPECT_FALSE(reported);
}

} // namespace
} // namespace aurelo::test
