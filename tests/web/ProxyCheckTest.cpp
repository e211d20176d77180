// "测试代理" against a real Squid and microsocks that want a login: every outcome the sheet can
// show. The destination's name is invented and only the proxies resolve it, so a check that went
// around the proxy could not succeed.

#include "support/LoopbackProxy.hpp"
#include "support/LoopbackServer.hpp"
#include "support/MainLoopWait.hpp"
#include "support/MicrosocksProxy.hpp"
#include "support/SquidProxy.hpp"

#include "web/ProxyCheck.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kUsername = "agent";
// Percent-encoded in the proxy URI, and not ASCII: the proxies compare its UTF-8 bytes.
constexpr const char* kPassword = "s3cret:@/пароль";

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

TEST(ProxyCheckTest, ReportsTheDelayOrWhyThroughBothKindsOfProxy) {
    LoopbackServer platform;
    const std::string url = platform.url("/", "platform.invalid");
    const std::uint16_t closedPort = closedLoopbackPort();
    const std::string refusedURL = "http://refused.invalid:" + std::to_string(closedPort);
    const std::vector<std::string> names = {"platform.invalid", "refused.invalid"};
    MicrosocksProxy socks({.hostNames = names, .username = kUsername, .password = kPassword});
    SquidProxy squid({.hostNames = names, .username = kUsername, .password = kPassword});

    for (const auto& [type, port] : {std::pair{"socks5", socks.port()}, {"http", squid.port()}}) {
        const auto route = [&](std::uint16_t at, const char* password) {
            return **proxyRoute(type, "127.0.0.1", at, kUsername, password);
        };
        const struct {
            ProxyRoute route;
            std::string url;
            const char* line; // a regular expression
        } cases[] = {
            {route(port, kPassword), url, "代理可用 · 延迟 [0-9]+ ms"},
            {route(port, "wrong"), url, "代理认证失败，请检查代理用户名和密码"},
            {route(port, kPassword), refusedURL, "代理拒绝了目标地址"},
            {route(closedPort, kPassword), url, "无法连接代理"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(type) + " " + c.line);
            const auto result = check(c.route, c.url);
            ASSERT_TRUE(result.has_value());
            EXPECT_THAT(result->line(), testing::MatchesRegex(c.line)) << result->line();
        }
    }
}

TEST(ProxyCheckTest, AProxyThatNeverAnswersTimesOutAndAnAbandonedCheckNeverReports) {
    // A web server reads the proxy's greeting as the start of a request and waits for the rest.
    LoopbackServer silent;
    const auto route = **proxyRoute("socks5", "127.0.0.1", silent.port(), kUsername, kPassword);

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
