// Login, tokens, engine lists and what the database file keeps.

#include "ServiceHarness.hpp"

#include "service/AccessToken.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace aurelo::service::test {
namespace {

using nlohmann::json;

TEST(ServiceLogin, AnswersATokenOnlyForTheRightPasswordAndStoresNeitherInTheClear) {
    ServiceHarness harness;
    harness.addUser("alice", "correct horse");
    std::string token = harness.login("alice", "correct horse");
    ASSERT_FALSE(token.empty());
    ASSERT_TRUE(harness.database().accountForToken(hashAccessToken(token), 1'800'000'001).value());
    std::string everything;
    for (const char* suffix : {"", "-wal"})
        everything += aurelo::test::readFile(harness.dataDirectory() /
                                             (std::string(ServiceDatabase::kFileName) + suffix));
    EXPECT_FALSE(everything.contains("correct horse"));
    EXPECT_FALSE(everything.contains(token));
    EXPECT_TRUE(everything.contains("scrypt$"));

    struct Case {
        const char* name;
        std::string body;
        unsigned status;
        const char* error;
    } cases[] = {
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reply reply = harness.callRaw("POST", "/api/auth/login", c.body);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.error(), c.error);
    }
}

TEST(ServiceTokens, MissingUnknownWronglyPresentedAndExpiredTokensAre401) {
    using namespace std::chrono_literals;
    ServiceHarness harness([](ServiceConfiguration& c) { c.tokenLifetime = 1h; });
    std::string token = harness.userWithToken("alice");
    auto engines = [&](const std::string& authorization) {
        return harness.callRaw("GET", "/api/engines", std::nullopt,
                               {{"Authorization", authorization}});
    };
    auto expectRefused = [](const Reply& reply, const std::string& error) {
        EXPECT_EQ(reply.status, 401u);
        EXPECT_EQ(reply.error(), error);
    };
    expectRefused(harness.call("GET", "/api/engines"), "请先登录Aurelo翻译器账号。");
    expectRefused(engines("Bearer " + token + "x"), "登录已失效，请重新登录。");
    EXPECT_EQ(engines("Basic " + token).status, 401u);
    harness.advanceClock(59min);
    EXPECT_EQ(engines("Bearer " + token).status, 200u);
    harness.advanceClock(2min);
    expectRefused(engines("Bearer " + token), "登录已失效，请重新登录。");
    expectRefused(harness.translate(token, "hi", "es"), "登录已失效，请重新登录。");
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
    EXPECT_EQ(harness.call("GET", "/api/engines", std::nullopt, alice).json,
              json::parse(R"({"engines":[
        {"provider":"deepl","label":"engine deepl"},
        {"provider":"openai","label":"engine openai","model":"gpt-test"},
        {"provider":"google","label":"engine google"}]})"));
    EXPECT_EQ(harness.call("GET", "/api/engines", std::nullopt, bob).json,
              json::parse(R"({"engines":[{"provider":"claude","label":"engine claude"}]})"))
        << "an empty model is left out";
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
