// Per-session website data and network routes: cookies stay in their session, survive a rebuilt
// view and go with the cleaner; proxies carry exactly their own session's traffic, resolve names
// themselves, and a dead proxy fails loads instead of letting them out directly.

#include "support/LoopbackProxy.hpp"
#include "support/WebViewTestSupport.hpp"

namespace aurelo::test {
namespace {

using WebViewSessionTest = WebViewTest;

TEST_F(WebViewSessionTest, CookiesStayInTheirSessionAndGoWithTheCleaner) {
    auto& a = open(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(a));
    evaluate(a, "document.cookie = 'login=alice; max-age=3600; path=/'", nullptr);
    ASSERT_EQ(evaluate(a, "document.cookie", nullptr), R"("login=alice")");

    auto& b = open(inputs(kSessionB));
    ASSERT_TRUE(waitForLoad(b));
    EXPECT_EQ(evaluate(b, "document.cookie", nullptr), R"("")");

    // The window replaces a host when a session setting changes: the new view finds the login.
    destroy(a);
    auto& rebuilt = open(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(rebuilt));
    EXPECT_EQ(evaluate(rebuilt, "document.cookie", nullptr), R"("login=alice")");
    destroy(rebuilt);

    bool cleared = false;
    stores->clear(kSessionA, [&] { cleared = true; });
    ASSERT_TRUE(runMainLoopUntil([&] { return cleared; }));
    auto& afterClear = open(inputs(kSessionA));
    ASSERT_TRUE(waitForLoad(afterClear));
    EXPECT_EQ(evaluate(afterClear, "document.cookie", nullptr), R"("")");
    EXPECT_EQ(evaluate(b, "document.cookie", nullptr), R"("")");
}

// A proxied session beside a direct one; logins and HTTP proxies: ProxyCredentialsTest.
TEST_F(WebViewSessionTest, AProxyCarriesOnlyItsOwnSessionByName) {
    LoopbackProxy socks(LoopbackProxy::Kind::Socks5);

    // Host names under .invalid never resolve: a page loads only when the proxy resolves it.
    auto socksInputs = inputs(kSessionA);
    socksInputs.proxyType = "socks5";
    socksInputs.proxyHost = "127.0.0.1";
    socksInputs.proxyPort = socks.port();
    socksInputs.pageURL = server.url("/chat.html", "socks-chat.invalid");
    auto& viaSocks = open(socksInputs);
    auto& direct = open(inputs(kSessionB, "/form.html"));
    ASSERT_TRUE(waitForLoad(viaSocks)) << loads(viaSocks).lastFailure;
    ASSERT_TRUE(waitForLoad(direct)) << loads(direct).lastFailure;
    EXPECT_EQ(evaluate(viaSocks, "document.title", nullptr), R"("Fixture chat")");

    const auto socksSaw = socks.destinations();
    ASSERT_FALSE(socksSaw.empty());
    for (const auto& destination : socksSaw) {
        EXPECT_EQ(destination.host, "socks-chat.invalid");
        EXPECT_TRUE(destination.byName) << "resolved locally";
        EXPECT_EQ(destination.port, server.port());
    }
    EXPECT_EQ(server.hostsRequesting("/form.html"),
              std::vector<std::string>{"127.0.0.1:" + std::to_string(server.port())});
    EXPECT_EQ(server.hostsRequesting("/chat.html"),
              std::vector<std::string>{"socks-chat.invalid:" + std::to_string(server.port())});
}

TEST_F(WebViewSessionTest, ADeadOrUnusableProxyFailsTheLoadInsteadOfGoingDirect) {
    const std::tuple<const char*, const char*, const char*, std::uint16_t, std::string_view>
        cases[] = {
            {kSessionA, "socks5", "127.0.0.1", closedLoopbackPort(), kProxyUnreachable},
            {kSessionB, "http", "127.0.0.1", closedLoopbackPort(), kProxyUnreachable},
            // Hosts that once made WebKit drop the proxy setting and load directly.
            {"33333333-3333-4333-8333-333333333333", "socks5", "not a host/", 1080,
             kInvalidProxyHost},
            {"44444444-4444-4444-8444-444444444444", "http", "127.0.0.1:1080", 1080,
             kInvalidProxyHost},
            {"55555555-5555-4555-8555-555555555555", "http", "127.0.0.1\u3000", 1080,
             kInvalidProxyHost},
        };
    for (const auto& [session, type, proxyHost, port, reason] : cases) {
        SCOPED_TRACE(std::string(type) + " " + proxyHost);
        auto in = inputs(session);
        in.proxyType = type;
        in.proxyHost = proxyHost;
        in.proxyPort = port;
        std::optional<PageHealth> reported;
        in.onHealthChanged = [&](const PageHealth& health) { reported = health; };
        auto& host = open(in);
        ASSERT_TRUE(runMainLoopUntil(
            [&] { return reported && reported->state == PageHealthState::NetworkError; }, 15s));
        EXPECT_EQ(reported->reason, reason);
        // No page is made for a proxy that cannot be used, so nothing can be requested.
        EXPECT_EQ(host.webView() == nullptr, reason == kInvalidProxyHost);
    }
    EXPECT_EQ(server.requestCount("/chat.html"), 0u);
}

} // namespace
} // namespace aurelo::test
