// Login, tokens, engine lists, rate limits and what the database file keeps.

#include "ServiceHarness.hpp"

#include "service/AccessToken.hpp"
#include "service/PasswordHasher.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace aurelo::service::test {
namespace {

using nlohmann::json;

TEST(ServiceLogin, AnswersTokenOnlyForTheRightPassword) {
    ServiceHarness harness;
    harness.addUser("alice", "correct horse");
    struct Case {
        const char* name;
        std::string body;
        unsigned status;
        const char* error;
    } cases[] = {
        {"right password", R"({"username":"alice","password":"correct horse"})", 200, nullptr},
        {"wrong password", R"({"username":"alice","password":"wrong"})", 401, "用户名或密码错误。"},
        {"unknown user", R"({"username":"bob","password":"correct horse"})", 401,
         "用户名或密码错误。"},
        {"user name differs in case", R"({"username":"Alice","password":"correct horse"})", 401,
         "用户名或密码错误。"},
        {"empty password", R"({"username":"alice","password":""})", 400, "请输入用户名和密码。"},
        {"password not a string", R"({"username":"alice","password":12})", 400,
         "请输入用户名和密码。"},
        {"missing user name", R"({"password":"x"})", 400, "请输入用户名和密码。"},
        {"not JSON", "username=alice", 400, "请求正文不是有效的 JSON 对象。"},
        {"JSON array", "[]", 400, "请求正文不是有效的 JSON 对象。"},
        {"empty body", "", 400, "请求正文不是有效的 JSON 对象。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reply reply = harness.callRaw("POST", "/api/auth/login", c.body);
        EXPECT_EQ(reply.status, c.status);
        if (c.error)
            EXPECT_EQ(reply.error(), c.error);
        else
            EXPECT_TRUE(reply.json["token"].is_string() &&
                        !reply.json["token"].get<std::string>().empty());
    }
}

TEST(ServiceTokens, MissingUnknownExpiredRevokedAndOrphanedTokensAre401) {
    ServiceHarness harness(
        [](ServiceConfiguration& c) { c.tokenLifetime = std::chrono::hours(1); });
    std::string token = harness.userWithToken("alice");
    ASSERT_FALSE(token.empty());

    EXPECT_EQ(harness.call("GET", "/api/engines").error(), "请先登录Aurelo翻译器账号。");
    EXPECT_EQ(harness.call("GET", "/api/engines").status, 401u);
    Reply unknown = harness.call("GET", "/api/engines", std::nullopt, token + "x");
    EXPECT_EQ(unknown.status, 401u);
    EXPECT_EQ(unknown.error(), "登录已失效，请重新登录。");
    Reply wrongScheme =
        harness.callRaw("GET", "/api/engines", "", {{"Authorization", "Basic " + token}});
    EXPECT_EQ(wrongScheme.status, 401u);

    harness.advanceClock(std::chrono::minutes(59));
    EXPECT_EQ(harness.call("GET", "/api/engines", std::nullopt, token).status, 200u);
    harness.advanceClock(std::chrono::minutes(2));
    Reply expired = harness.call("GET", "/api/engines", std::nullopt, token);
    EXPECT_EQ(expired.status, 401u);
    EXPECT_EQ(expired.error(), "登录已失效，请重新登录。");
    Reply translate =
        harness.translate(token, {{"text", "hi"}, {"target", "es"}, {"provider", "google"}});
    EXPECT_EQ(translate.status, 401u);

    std::string fresh = harness.login("alice", "pw-alice");
    ASSERT_EQ(harness.call("GET", "/api/engines", std::nullopt, fresh).status, 200u);
    auto revoked = harness.database().revokeTokens("alice");
    ASSERT_TRUE(revoked && *revoked);
    EXPECT_GE(**revoked, 1);
    EXPECT_EQ(harness.call("GET", "/api/engines", std::nullopt, fresh).status, 401u);

    // Changing the password or removing the user ends their logins.
    token = harness.login("alice", "pw-alice");
    ASSERT_TRUE(harness.database()
                    .setPasswordHash("alice", PasswordHasher({10, 8, 1}).hash("new"))
                    .value());
    EXPECT_EQ(harness.call("GET", "/api/engines", std::nullopt, token).status, 401u);

    std::string again = harness.login("alice", "new");
    ASSERT_FALSE(again.empty());
    ASSERT_TRUE(harness.database().removeUser("alice").value());
    EXPECT_EQ(harness.call("GET", "/api/engines", std::nullopt, again).status, 401u);
}

TEST(ServiceEngines, EachAccountSeesItsOwnEnginesInTheOrderEnabled) {
    ServiceHarness harness;
    std::string alice = harness.userWithToken("alice");
    std::string bob = harness.userWithToken("bob");
    harness.enableEngine("alice", "deepl");
    harness.enableEngine("alice", "openai", "", "gpt-test");
    harness.enableEngine("alice", "google", "apertium");
    harness.enableEngine("bob", "claude", "", "");
    // A hand-edited row with a provider the client does not know is left out.
    ASSERT_TRUE(harness.database()
                    .enableEngine("bob", {"yandex", "Other", std::nullopt, "google"})
                    .value());
    // Enabling again updates the entry in place.
    ASSERT_TRUE(harness.database()
                    .enableEngine("alice", {"deepl", "DeepL Pro", std::nullopt, "deepl"})
                    .value());

    Reply mine = harness.call("GET", "/api/engines", std::nullopt, alice);
    ASSERT_EQ(mine.status, 200u);
    EXPECT_EQ(mine.json, json::parse(R"({"engines":[
        {"provider":"deepl","label":"DeepL Pro"},
        {"provider":"openai","label":"engine openai","model":"gpt-test"},
        {"provider":"google","label":"engine google"}]})"));
    Reply theirs = harness.call("GET", "/api/engines", std::nullopt, bob);
    EXPECT_EQ(theirs.json,
              json::parse(R"({"engines":[{"provider":"claude","label":"engine claude"}]})"))
        << "an empty model is left out";

    ASSERT_TRUE(harness.database().disableEngine("alice", "openai").value());
    Reply after = harness.call("GET", "/api/engines", std::nullopt, alice);
    EXPECT_EQ(after.json["engines"].size(), 2u);
}

TEST(ServiceRateLimit, AnAccountOverItsLimitGets429WithRetryAfterAndOthersAreUnaffected) {
    ServiceHarness harness([](ServiceConfiguration& c) { c.rateLimitPerMinute = 3; });
    std::string alice = harness.userWithToken("alice");
    std::string bob = harness.userWithToken("bob");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(harness.call("GET", "/api/engines", std::nullopt, alice).status, 200u);
    Reply limited = harness.call("GET", "/api/engines", std::nullopt, alice);
    EXPECT_EQ(limited.status, 429u);
    EXPECT_EQ(limited.error(), "请求过于频繁，请稍后再试。");
    EXPECT_EQ(harness.call("GET", "/api/engines", std::nullopt, bob).status, 200u);
}

TEST(ServiceDatabaseFile, HoldsNeitherPasswordsNorTokens) {
    ServiceHarness harness;
    harness.addUser("alice", "PlainPassword-4711");
    std::string token = harness.login("alice", "PlainPassword-4711");
    ASSERT_FALSE(token.empty());
    auto account = harness.database().accountForToken(hashAccessToken(token), 1'800'000'001);
    ASSERT_TRUE(account && *account);
    std::string everything;
    for (const char* suffix : {"", "-wal"})
        everything += aurelo::test::readFile(harness.dataDirectory() /
                                             (std::string(ServiceDatabase::kFileName) + suffix));
    ASSERT_FALSE(everything.empty());
    EXPECT_EQ(everything.find("PlainPassword-4711"), std::string::npos);
    EXPECT_EQ(everything.find(token), std::string::npos);
    EXPECT_NE(everything.find("scrypt$"), std::string::npos);
}

TEST(ServiceDatabaseFile, RefusesFilesThatAreNotItsOwnDatabase) {
    ServiceHarness harness;
    auto garbage = harness.dataDirectory() / "garbage.sqlite3";
    std::ofstream(garbage) << "this is not a database, but a user's precious notes\n";
    auto opened = ServiceDatabase::open(garbage);
    ASSERT_FALSE(opened);
    EXPECT_NE(opened.error().message.find("数据库"), std::string::npos);
    EXPECT_EQ(aurelo::test::readFile(garbage),
              "this is not a database, but a user's precious notes\n");
}

} // namespace
} // namespace aurelo::service::test
