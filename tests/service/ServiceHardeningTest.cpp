// The service facing hostile clients and accounts.

#include "RawConnection.hpp"
#include "ServiceHarness.hpp"

#include "service/PasswordHasher.hpp"
#include "service/RateLimiter.hpp"
#include "service/ResultCache.hpp"

#include <gtest/gtest.h>

namespace aurelo::service::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

TEST(ResultCache, KeepsAccountsApartAndStaysWithinItsBytes) {
    auto result = [](std::string text) { return TranslationResult{std::move(text), "en"}; };
    ResultCache::Key hello{"hello", "de", "google"};
    std::size_t entry = ResultCache::entryBytes(hello, result("hallo"));

    ResultCache cache({.totalBytes = 5 * entry, .accountBytes = 3 * entry});
    cache.store(1, hello, result("hallo"));
    EXPECT_EQ(cache.find(1, hello)->text, "hallo");
    EXPECT_FALSE(cache.find(1, {"hello", "de", "deepl"})) << "another engine";

    // Per account: the least recently used entry goes first.
    cache.store(1, {"a", "de", "google"}, result("x"));
    cache.store(1, {"b", "de", "google"}, result("x"));
    ASSERT_TRUE(cache.find(1, hello)); // hello is now the most recently used
    cache.store(1, {"c", "de", "google"}, result("x"));
    EXPECT_FALSE(cache.find(1, {"a", "de", "google"}));
    EXPECT_TRUE(cache.find(1, hello));
    EXPECT_LE(cache.accountBytes(1), 3 * entry);

    // In all: the account used least recently gives way.
    cache.store(2, {"a", "de", "google"}, result("x"));
    cache.store(3, {"a", "de", "google"}, result("x"));
    ASSERT_TRUE(cache.find(1, hello));
    cache.store(3, {"b", "de", "google"}, result("x"));
    EXPECT_LE(cache.bytes(), 5 * entry);
    EXPECT_EQ(cache.accountBytes(2), 0u) << "account 2 was used least recently";
    EXPECT_TRUE(cache.find(1, hello));

    // Replacing keeps the count right; an entry larger than an account's share is not kept.
    std::size_t bytes = cache.bytes();
    cache.store(3, {"b", "de", "google"}, result("y"));
    EXPECT_EQ(cache.bytes(), bytes);
    cache.store(4, {std::string(4 * entry, 'x'), "de", "google"}, result("x"));
    EXPECT_EQ(cache.accountBytes(4), 0u);
}

TEST(RateLimiter, RefillsEvenlyAndKeepsOnlyRecentKeysUpToItsBound) {
    RateLimiter limiter(60);
    auto start = RateLimiter::Clock::now();
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(limiter.allow("k", start));
    EXPECT_FALSE(limiter.allow("k", start));
    EXPECT_EQ(limiter.retryAfterSeconds("k", start), 1u);
    EXPECT_TRUE(limiter.allow("k", start + 1100ms));
    EXPECT_FALSE(limiter.allow("k", start + 1100ms));
    EXPECT_TRUE(RateLimiter(0).allow("k", start)) << "0 disables the limit";

    RateLimiter bounded(60, 3);
    for (const char* key : {"a", "b", "c", "d"})
        bounded.allow(key, start);
    EXPECT_EQ(bounded.keys(), 3u) << "the bound holds";
    // A minute later every bucket has refilled: the next call forgets them all.
    bounded.allow("e", start + 61s);
    EXPECT_EQ(bounded.keys(), 1u);
}

TEST(PasswordHasher, VerifiesOnlyTheRightPasswordAndRefusesTamperedHashesAndCosts) {
    PasswordHasher hasher({10, 8, 1});
    std::string stored = hasher.hash("secret");
    ASSERT_TRUE(stored.starts_with("scrypt$10$8$1$"));
    EXPECT_NE(stored, hasher.hash("secret")) << "salted";
    EXPECT_TRUE(PasswordHasher::verify("secret", stored));
    EXPECT_FALSE(PasswordHasher::verify("Secret", stored));
    EXPECT_FALSE(PasswordHasher::verify("", stored));
    std::string salt = stored.substr(14, stored.find('$', 14) - 14);
    std::string key = stored.substr(stored.rfind('$') + 1);
    for (std::string tampered :
         {std::string(), std::string("secret"), std::string("scrypt$10$8$1$") + salt,
          "bcrypt$10$8$1$" + salt + "$" + key, "scrypt$40$8$1$" + salt + "$" + key,
          "scrypt$10$8$1$" + salt + "$" + key + "$", "scrypt$10$0$1$" + salt + "$" + key,
          "scrypt$x$8$1$" + salt + "$" + key, "scrypt$10$8$1$" + salt + "$!!!!"}) {
        SCOPED_TRACE(tampered);
        EXPECT_FALSE(PasswordHasher::verify("secret", tampered));
    }
    // A stored cost is refused before any key is derived when it asks for too much memory or
    // work, although each number may be within its own bound.
    struct Case {
        ScryptCost cost;
        bool accepted;
    } costs[] = {
        {{20, 16, 1}, false}, // 2 GiB
        {{17, 8, 1}, false},  // 128 MiB
        {{15, 16, 1}, true},  // 64 MiB, the most memory allowed
        {{14, 8, 5}, false},  // p beyond 4
        {{0, 8, 1}, false},
    };
    for (const auto& c : costs) {
        SCOPED_TRACE(std::to_string(c.cost.log2N) + "/" + std::to_string(c.cost.r) + "/" +
                     std::to_string(c.cost.p));
        EXPECT_EQ(c.cost.withinBounds(), c.accepted);
        std::string claimed = "scrypt$" + std::to_string(c.cost.log2N) + "$" +
                              std::to_string(c.cost.r) + "$" + std::to_string(c.cost.p) + "$";
        if (!c.accepted) {
            EXPECT_FALSE(PasswordHasher::verify("secret", claimed + salt + "$" + key));
        }
    }
}

TEST(ServiceLoginLimits, ApplyPerUserNameAcrossAddressesAndTrustOnlyTheConfiguredProxy) {
    ServiceHarness proxied([](ServiceConfiguration& c) {
        c.loginRateLimitPerMinute = 2;
        c.loginUserRateLimitPerMinute = 3;
        c.connections.trustedProxy = "127.0.0.1";
    });
    ServiceHarness direct([](ServiceConfiguration& c) { c.loginRateLimitPerMinute = 2; });
    proxied.addUser("alice", "pw");
    auto attempt = [](ServiceHarness& harness, const std::string& user, const std::string& from) {
        return harness.callRaw("POST", "/api/auth/login",
                               json{{"username", user}, {"password", "x"}}.dump(),
                               {{"X-Forwarded-For", "203.0.113.9, " + from}});
    };
    // Three guesses at alice from three addresses; the fourth is slowed down although it comes
    // from a fresh address.
    EXPECT_EQ(attempt(proxied, "alice", "198.51.100.1").status, 401u);
    EXPECT_EQ(attempt(proxied, "alice", "198.51.100.2").status, 401u);
    EXPECT_EQ(attempt(proxied, "alice", "198.51.100.3").status, 401u);
    EXPECT_EQ(attempt(proxied, "alice", "198.51.100.4").status, 429u);
    // The address limit follows the proxy's last entry, not the proxy itself.
    EXPECT_EQ(attempt(proxied, "bob", "198.51.100.5").status, 401u);
    EXPECT_EQ(attempt(proxied, "carol", "198.51.100.5").status, 401u);
    EXPECT_EQ(attempt(proxied, "dave", "198.51.100.5").status, 429u);
    EXPECT_EQ(attempt(proxied, "erin", "198.51.100.6").status, 401u);
    // Without a trusted proxy the header is the client's word and is ignored.
    EXPECT_EQ(attempt(direct, "u1", "198.51.100.1").status, 401u);
    EXPECT_EQ(attempt(direct, "u2", "198.51.100.2").status, 401u);
    Reply limited = attempt(direct, "u3", "198.51.100.3");
    EXPECT_EQ(limited.status, 429u);
    EXPECT_EQ(limited.error(), "登录尝试过于频繁，请稍后再试。");
}

std::string translateHead(std::size_t length, const std::string& token = {}) {
    std::string head = "POST /api/translate HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                       "application/json\r\nContent-Length: " +
                       std::to_string(length) + "\r\n";
    if (!token.empty())
        head += "Authorization: Bearer " + token + "\r\n";
    return head + "\r\n";
}

constexpr const char* kHealthRequest = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// Every limit on what one client may hold at once, with each attack from an address of its own
// (a loopback address stands for another client) so that the per-address cap stays out of the way.
TEST(ServiceConnections, AttacksOnEachLimitAreAnsweredFromTheHeadersOrClosed) {
    ServiceHarness harness([](ServiceConfiguration& c) {
        c.connections.headerTimeout = 1s;
        c.connections.bodyTimeout = 1s;
        c.connections.idleTimeout = 1s;
        c.connections.maxConnectionsPerAddress = 2;
        c.connections.maxBytesInFlight = 100 * 1024;
    });
    std::string token = harness.userWithToken("alice");
    Reply tooLarge =
        harness.callRaw("POST", "/api/translate", std::string(kMaxTranslateBody + 1, ' '),
                        {{"Authorization", "Bearer " + token}});
    EXPECT_EQ(tooLarge.status, 413u);
    EXPECT_EQ(tooLarge.error(), "请求内容过大（上限 2 MB）。");
    Reply loginTooLarge = harness.callRaw("POST", "/api/auth/login", std::string(100 * 1024, ' '));
    EXPECT_EQ(loginTooLarge.status, 413u);
    EXPECT_EQ(loginTooLarge.error(), "请求内容过大（上限 64 KB）。");

    struct Attack {
        const char* name;
        std::string sent;
        unsigned status; // 0: no answer, only closed
        const char* text;
    } attacks[] = {
        // Without a known token a large body is refused from the headers alone: never read.
        {"large body, no token", translateHead(1024 * 1024), 401, "请先登录Aurelo翻译器账号。"},
        {"large body, unknown token", translateHead(1024 * 1024, "not-a-token"), 401,
         "登录已失效，请重新登录。"},
        {"more bytes than may be in flight", translateHead(150 * 1024, token), 503,
         "服务繁忙，请稍后重试。"},
        // A body of unknown length could grow without bound.
        {"chunked body",
         "POST /api/translate HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: "
         "chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n",
         411, ""},
        {"headers never finished", "POST /api/translate HTTP/1.1\r\nHost: 127.0.0.1\r\n", 0, ""},
        {"body cut short", translateHead(1000, token) + "{\"text\":", 0, ""},
        {"idle after an answer", kHealthRequest, 200, ""},
    };
    int address = 10;
    for (const auto& attack : attacks) {
        SCOPED_TRACE(attack.name);
        RawConnection connection(harness.port(), "127.0.0." + std::to_string(++address));
        ASSERT_TRUE(connection.send(attack.sent));
        if (attack.status) {
            ASSERT_TRUE(connection.waitForAnswerHead(5s));
            EXPECT_EQ(connection.status(), attack.status);
            EXPECT_TRUE(connection.received().contains(attack.text)) << connection.received();
        }
        if (attack.status >= 400) {
            EXPECT_EQ(connection.header("Connection"), "close");
            EXPECT_TRUE(attack.status != 503 || !connection.header("Retry-After").empty());
        }
        EXPECT_TRUE(connection.waitUntilClosed(10s)) << "still open: " << connection.received();
    }

    // A third connection from one address, while the other addresses are served.
    RawConnection first(harness.port()), second(harness.port()), third(harness.port());
    ASSERT_TRUE(third.send(kHealthRequest));
    ASSERT_TRUE(third.waitForAnswerHead(5s));
    EXPECT_EQ(third.status(), 503u);
    EXPECT_FALSE(third.header("Retry-After").empty());
    EXPECT_TRUE(third.waitUntilClosed(5s));

    // A known token's large body is awaited and read, then judged.
    std::string body = translationBody(std::string(70 * 1024, 'a'), "de", "google").dump();
    RawConnection connection(harness.port(), "127.0.0.2");
    ASSERT_TRUE(connection.send(translateHead(body.size(), token)));
    EXPECT_FALSE(connection.waitForAnswerHead(200ms));
    ASSERT_TRUE(connection.send(body));
    ASSERT_TRUE(connection.waitForAnswerHead(5s));
    EXPECT_EQ(connection.status(), 413u) << "read, then refused for its text length";
}

// A refusal before the body is read must still reach the client through the encryption.
TEST(ServiceHttps, RefusesLargeBodiesReadablyOverTls) {
    ServiceHarness harness;
    auto files = aurelo::test::writeTestCertificate(harness.dataDirectory());
    ServiceServer secure(harness.database(), ServiceConfiguration{});
    ASSERT_TRUE(secure.listen({"127.0.0.1", 0}, files.certificate, files.privateKey));
    ASSERT_TRUE(secure.origin().starts_with("https://"));
    HttpSession client(HttpSessionConfiguration{10s, 10s, 1, {}});
    aurelo::test::trustAuthorities(client, files.certificate);
    HttpRequest request{
        "POST", secure.origin() + "/api/translate", {}, std::string(200 * 1024, ' '), {}, {}};
    EXPECT_EQ(awaitReply(client, request).status, 401u);
}

} // namespace
} // namespace aurelo::service::test
