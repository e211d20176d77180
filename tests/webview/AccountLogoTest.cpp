// Platform logos travel only through an account of their platform: its network session and so
// its proxy. With no such account nothing is fetched, a dead proxy means no logo rather than a
// direct request, and a failure is retried at most once a day, across restarts.

#include "models/PlatformCatalogue.hpp"
#include "support/LoopbackProxy.hpp"
#include "support/TestDirectory.hpp"
#include "support/WebViewTestSupport.hpp"
#include "views/LogoCache.hpp"
#include "webview/AccountLogoFetcher.hpp"

#include <glib.h>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

// A 1×1 PNG.
std::string tinyPng() {
    gsize length = 0;
    guchar* bytes = g_base64_decode("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYP"
                                    "hfDwAChwGA60e6kgAAAABJRU5ErkJggg==",
                                    &length);
    std::string png(reinterpret_cast<const char*>(bytes), length);
    g_free(bytes);
    return png;
}

class AccountLogoTest : public WebViewTest {
protected:
    AccountLogoTest() {
        server.route("/logo.png", ScriptedAnswer::text(200, tinyPng(), "image/png"));
        fetcher = std::make_unique<AccountLogoFetcher>(
            *stores,
            [this](const std::string& url) -> std::optional<ChatSession> {
                ++lookups;
                if (!account || !url.starts_with(logoURL("/")))
                    return std::nullopt;
                return account;
            },
            m_root / "logo-downloads", LogoCache::kMaximumLogoBytes);
    }

    void TearDown() override {
        fetcher.reset();
        WebViewTest::TearDown();
    }

    // A host that only the tests' proxies resolve: a direct request could not even start.
    std::string logoURL(const std::string& path = "/logo.png") const {
        return server.url(path, "logo.platform.invalid");
    }

    static ChatSession accountVia(const char* type, std::uint16_t port) {
        ChatSession session = ChatSession::make("Telegram 1", "https://web.telegram.org/");
        session.id = kSessionA;
        session.proxyType = type;
        session.proxyHost = "127.0.0.1";
        session.proxyPort = port;
        return session;
    }

    std::optional<std::optional<std::string>> fetch(const std::string& url) {
        std::optional<std::optional<std::string>> result;
        if (!fetcher->fetch(url, [&](std::optional<std::string> bytes) { result = bytes; }))
            return std::nullopt;
        EXPECT_TRUE(runMainLoopUntil([&] { return result.has_value(); }, 15s)) << url;
        return result;
    }

    std::optional<ChatSession> account;
    int lookups = 0;
    std::unique_ptr<AccountLogoFetcher> fetcher;
};

// Which kind of proxy carries it is the network session's business, checked with pages.
TEST_F(AccountLogoTest, ALogoComesThroughTheAccountsProxyAndNeverDirectly) {
    LoopbackProxy proxy(LoopbackProxy::Kind::Socks5);
    account = accountVia("socks5", proxy.port());
    auto bytes = fetch(logoURL());
    ASSERT_TRUE(bytes && *bytes);
    EXPECT_EQ(**bytes, tinyPng());
    const auto seen = proxy.destinations();
    ASSERT_FALSE(seen.empty());
    for (const auto& destination : seen) {
        EXPECT_EQ(destination.host, "logo.platform.invalid");
        EXPECT_TRUE(destination.byName) << "resolved outside the proxy";
    }
    EXPECT_EQ(server.hostsRequesting("/logo.png"),
              std::vector<std::string>{"logo.platform.invalid:" + std::to_string(server.port())});
}

TEST_F(AccountLogoTest, WithoutAnAccountOrThroughADeadProxyNothingReachesTheServer) {
    account.reset();
    EXPECT_FALSE(fetch(logoURL())) << "no account of the platform: nothing is started";
    EXPECT_EQ(lookups, 1);

    account = accountVia("http", closedLoopbackPort());
    auto bytes = fetch(logoURL());
    ASSERT_TRUE(bytes);
    EXPECT_FALSE(*bytes);
    EXPECT_EQ(server.requestCount("/logo.png"), 0u);
}

TEST_F(AccountLogoTest, AnOversizedOrFailedAnswerIsNoLogo) {
    LoopbackProxy proxy(LoopbackProxy::Kind::Http);
    account = accountVia("http", proxy.port());
    server.route(
        "/huge.png",
        ScriptedAnswer::text(200, std::string(LogoCache::kMaximumLogoBytes + 1, 'x'), "image/png"));
    server.route("/missing.png", ScriptedAnswer::text(404, "not here", "text/plain"));
    for (const char* path : {"/huge.png", "/missing.png"}) {
        auto bytes = fetch(logoURL(path));
        ASSERT_TRUE(bytes) << path;
        EXPECT_FALSE(*bytes) << path;
    }
    EXPECT_TRUE(std::filesystem::is_empty(m_root / "logo-downloads")) << "downloads are removed";
}

TEST_F(AccountLogoTest, TheCacheRetriesAFailureAtMostOnceADayAcrossRestarts) {
    LoopbackProxy proxy(LoopbackProxy::Kind::Http);
    account = accountVia("http", proxy.port());
    server.route("/logo.png", ScriptedAnswer::text(500, "down", "text/plain"));
    auto now = std::chrono::system_clock::now();
    const auto folder = m_root / "logos";
    auto makeCache = [&] {
        return std::make_unique<LogoCache>(
            folder,
            [this](const std::string& url, LogoCache::FetchDone done) {
                return fetcher->fetch(url, std::move(done));
            },
            [&] { return now; });
    };
    auto cache = makeCache();
    EXPECT_FALSE(cache->logo(logoURL()));
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return std::filesystem::exists(LogoCache::failureFileFor(folder, logoURL())); },
        15s));
    EXPECT_EQ(server.requestCount("/logo.png"), 1u);

    // The same run and the next start, within the day: the symbol stays and nothing is asked.
    EXPECT_FALSE(cache->logo(logoURL()));
    now += 23h;
    cache = makeCache();
    EXPECT_FALSE(cache->logo(logoURL()));
    runMainLoopFor(200ms);
    EXPECT_EQ(server.requestCount("/logo.png"), 1u);

    // A day after the failure it is tried again, and the logo is kept for the next start.
    now += 2h;
    server.route("/logo.png", ScriptedAnswer::text(200, tinyPng(), "image/png"));
    bool arrived = false;
    cache->signalLogoArrived().connect([&](const std::string&) { arrived = true; });
    EXPECT_FALSE(cache->logo(logoURL()));
    ASSERT_TRUE(runMainLoopUntil([&] { return arrived; }, 15s));
    EXPECT_TRUE(cache->logo(logoURL()));
    EXPECT_FALSE(std::filesystem::exists(LogoCache::failureFileFor(folder, logoURL())));
    cache = makeCache();
    EXPECT_TRUE(cache->logo(logoURL()));
    EXPECT_EQ(server.requestCount("/logo.png"), 2u);
}

// An answer that comes after its cache is gone changes nothing, not even the failure record.
TEST(LogoCacheLifetime, AnAnswerAfterTheCacheIsGoneIsDropped) {
    TestDirectory directory;
    const std::string url = "https://telegram.org/favicon.ico";
    LogoCache::FetchDone answer;
    auto cache = std::make_unique<LogoCache>(directory.path(),
                                             [&](const std::string&, LogoCache::FetchDone done) {
                                                 answer = std::move(done);
                                                 return true;
                                             });
    EXPECT_FALSE(cache->logo(url));
    cache.reset();
    answer(std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(LogoCache::failureFileFor(directory.path(), url)));
}

TEST(LogoAccount, TheFirstAccountOfThePlatformCarriesItsLogo) {
    auto telegram = ChatSession::make("TG", "https://web.telegram.org/");
    auto secondTelegram = ChatSession::make("TG 2", "https://web.telegram.org/");
    auto custom = ChatSession::make("Site", "https://chat.example.com/");
    auto whatsapp = ChatSession::make("WA");
    const std::vector<ChatSession> sessions = {custom, telegram, secondTelegram, whatsapp};
    const struct {
        std::string url;
        std::optional<std::string> expected;
    } cases[] = {
        {"https://telegram.org/favicon.ico", telegram.id},
        {"https://www.whatsapp.com/favicon.ico", whatsapp.id},
        {"https://www.instagram.com/favicon.ico", std::nullopt},
        {"https://chat.example.com/favicon.ico", std::nullopt},
    };
    for (const auto& c : cases) {
        auto found = accountForLogo(sessions, c.url);
        EXPECT_EQ(found ? std::optional(found->id) : std::nullopt, c.expected) << c.url;
    }
    EXPECT_FALSE(accountForLogo({}, "https://telegram.org/favicon.ico"));
}

} // namespace
} // namespace aurelo::test
