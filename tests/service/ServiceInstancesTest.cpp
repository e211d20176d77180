// Two real aurelo-service processes on one PostgreSQL database (a private cluster on a Unix
// socket) must serve the application as one service: nothing an instance decides may live only in
// its own memory. An instance that loses its database answers 503 and recovers by itself.

#include "PostgresCluster.hpp"
#include "ServiceHarness.hpp"
#include "ServiceProcess.hpp"

#include "support/MainLoopWait.hpp"
#include "support/TestDirectory.hpp"

#include <gtest/gtest.h>

#include <ctime>

using namespace std::chrono_literals;
using nlohmann::json;

namespace aurelo::service::test {
namespace {

PostgresCluster& cluster() {
    static PostgresCluster shared;
    return shared;
}

// Two instances over a fresh database, each with its own data folder and port, and one account
// ("alice", with Google translating through a fake provider).
class TwoInstances : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cluster().ready()) << cluster().failure();
        m_database = "instances_" + std::to_string(++s_databases);
        ASSERT_TRUE(cluster().recreateDatabase(m_database));
        ASSERT_EQ(admin({"users", "add", "alice", "--password", "pw-alice"}), 0);
        ASSERT_EQ(admin({"engines", "enable", "alice", "google"}), 0);
        ASSERT_EQ(
            admin({"providers", "set", "google", "--key", "k", "--endpoint", m_provider.origin()}),
            0);
    }

    int admin(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--database", cluster().uri(m_database)});
        return m_first.admin(arguments);
    }
    bool startBoth(std::vector<std::string> options = {}) {
        options.insert(options.end(), {"--database", cluster().uri(m_database)});
        return m_first.start(options) && m_second.start(options);
    }
    static Reply engines(ServiceProcess& instance, const std::string& token) {
        return instance.call("GET", "/api/engines", std::nullopt, token);
    }

    FakeUpstream m_provider{[](const UpstreamRequest& r) { return googleTranslations(r, 0ms); }};
    ServiceProcess m_first{ServiceProcess::builtBinary()};
    ServiceProcess m_second{ServiceProcess::builtBinary()};
    std::string m_database;
    static inline int s_databases = 0;
};

TEST_F(TwoInstances, ServeAsOneServiceForTokensEnginesLogoutsAndPasswords) {
    ASSERT_TRUE(startBoth());
    std::string token = m_first.login("alice", "pw-alice");
    ASSERT_FALSE(token.empty());
    Reply translated = m_second.translate(token, "hello", "zh-CN");
    EXPECT_EQ(translated.json, json({{"text", "译:hello"}, {"detectedLanguage", "en"}}));

    // Enabled by the administrator while both run: the next list on either instance has it.
    ASSERT_EQ(admin({"engines", "enable", "alice", "deepl", "--label", "DeepL"}), 0);
    EXPECT_EQ(engines(m_second, token).json["engines"].size(), 2u);

    // A logout on one instance ends only the presented token, on the other too.
    std::string second = m_second.login("alice", "pw-alice");
    auto logout = [&](const std::string& presented) {
        return m_first.call("POST", "/api/auth/logout", json::object(), presented).status;
    };
    EXPECT_EQ(logout(second), 204u);
    EXPECT_EQ(engines(m_second, second).status, 401u);
    EXPECT_EQ(engines(m_second, token).status, 200u) << "the other device stays logged in";
    EXPECT_EQ(logout(second), 401u);
    EXPECT_EQ(logout(""), 401u);

    // A new password: tokens issued before are refused everywhere.
    ASSERT_EQ(admin({"users", "set-password", "alice", "--password", "pw-new"}), 0);
    EXPECT_EQ(m_first.translate(token, "hello", "zh-CN").status, 401u);
    EXPECT_EQ(engines(m_second, token).status, 401u);
    EXPECT_FALSE(m_second.login("alice", "pw-new").empty());
}

// Under load, with its engine lists kept in memory, the second instance still counts a logout on
// the first and an engine the administrator disabled from its first request after the commit.
TEST_F(TwoInstances, ALogoutAndADisabledEngineCountOnTheOtherUnderLoad) {
    ASSERT_TRUE(startBoth({"--rate-limit", "1000000"}));
    std::string token = m_first.login("alice", "pw-alice");
    ASSERT_FALSE(token.empty());
    RequestLoad load(8, [&](int n) {
        const auto line = "line " + std::to_string(n % 20);
        return m_second.post("/api/translate", translationBody(line, "zh-CN", "google"), token);
    });
    aurelo::test::runMainLoopFor(1s);

    ASSERT_EQ(admin({"engines", "disable", "alice", "google"}), 0);
    Reply refused = m_second.translate(token, "line 1", "zh-CN");
    EXPECT_EQ(refused.status, 403u) << refused.body;
    EXPECT_EQ(refused.error(), "当前账号未启用 Google Translate，请联系管理员。");
    ASSERT_EQ(m_first.call("POST", "/api/auth/logout", json::object(), token).status, 204u);
    EXPECT_EQ(engines(m_second, token).status, 401u);

    load.finish();
    EXPECT_GT(load.answered(), 8);
    for (const auto& [answer, count] : load.answers)
        EXPECT_FALSE(answer.starts_with("5") || answer.starts_with("no answer")) << answer;
}

TEST_F(TwoInstances, RateLimitsCountRequestsToEitherInstancePerAccount) {
    ASSERT_EQ(admin({"users", "add", "bob", "--password", "pw-bob"}), 0);
    ASSERT_TRUE(startBoth({"--rate-limit", "6", "--login-user-rate-limit", "3"}));
    // The instances count per minute of the clock: start in a minute with room for the test.
    if (std::time(nullptr) % 60 > 45)
        aurelo::test::runMainLoopFor(std::chrono::seconds(61 - std::time(nullptr) % 60));

    // Login attempts for one name: two wrong ones on the first, one right one on the second;
    // the fourth is refused wherever it is sent.
    EXPECT_TRUE(m_first.login("alice", "wrong").empty());
    EXPECT_TRUE(m_first.login("alice", "wrong").empty());
    std::string token = m_second.login("alice", "pw-alice");
    ASSERT_FALSE(token.empty());
    Reply refused =
        m_first.call("POST", "/api/auth/login", json{{"username", "alice"}, {"password", "x"}});
    EXPECT_EQ(refused.status, 429u);
    EXPECT_EQ(refused.error(), "登录尝试过于频繁，请稍后再试。");
    EXPECT_TRUE(m_second.login("alice", "pw-alice").empty());

    // Six requests per minute for the account, alternating between the instances: the seventh
    // is refused, whichever instance it reaches.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(engines(i % 2 ? m_second : m_first, token).status, 200u) << i;
    Reply limited = engines(m_second, token);
    EXPECT_EQ(limited.status, 429u);
    EXPECT_EQ(limited.error(), "请求过于频繁，请稍后再试。");
    EXPECT_EQ(engines(m_first, token).status, 429u);
    EXPECT_EQ(engines(m_first, m_second.login("bob", "pw-bob")).status, 200u)
        << "another account is not limited";
}

TEST_F(TwoInstances, AnInstanceAnswers503WhileTheDatabaseIsDownAndRecoversByItself) {
    ASSERT_TRUE(startBoth({"--database-wait-ms", "500"}));
    std::string token = m_first.login("alice", "pw-alice");
    ASSERT_EQ(m_second.translate(token, "hello", "zh-CN").status, 200u);

    ASSERT_TRUE(cluster().stop());
    Reply refused = engines(m_second, token);
    EXPECT_EQ(refused.status, 503u);
    EXPECT_EQ(refused.error(), "数据库暂时不可用，请稍后重试。");
    Reply health = m_first.call("GET", "/healthz", std::nullopt);
    EXPECT_EQ(health.status, 503u);
    EXPECT_EQ(health.json["database"], json({{"backend", "postgresql"}, {"state", "unavailable"}}));
    EXPECT_EQ(m_first.login("alice", "pw-alice"), "") << "no token without the database";

    ASSERT_TRUE(cluster().start());
    // The instances were not restarted: their next requests find the database again.
    EXPECT_TRUE(aurelo::test::runMainLoopUntil(
        [&] {
            aurelo::test::runMainLoopFor(200ms);
            return engines(m_second, token).status == 200u;
        },
        20s));
    EXPECT_EQ(m_first.translate(token, "hello", "zh-CN").status, 200u);
    EXPECT_EQ(m_first.call("GET", "/healthz", std::nullopt).status, 200u);
}

TEST_F(TwoInstances, HostileUserNamesAreWrongCredentialsNotServerErrors) {
    ASSERT_TRUE(startBoth());
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "客"; // three bytes each: the login limit's key cuts one in two
    struct Case {
        std::string username;
        std::string password;
    } cases[] = {
        {longName, "pw"},
        {std::string("alice\0tail", 10), "pw-alice"}, // the right password for "alice"
        {"alice'; DELETE FROM tokens; --", "pw"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.username.substr(0, 20));
        Reply reply = m_first.call("POST", "/api/auth/login",
                                   json{{"username", c.username}, {"password", c.password}});
        EXPECT_EQ(reply.status, 401u) << reply.body;
        EXPECT_EQ(reply.error(), "用户名或密码错误。");
    }
    EXPECT_FALSE(m_second.login("alice", "pw-alice").empty());
}

TEST_F(TwoInstances, RefuseToStartOnADatabaseFromANewerVersion) {
    ASSERT_TRUE(cluster().execute(m_database, "UPDATE schema_version SET version = 99"));
    EXPECT_FALSE(m_first.start({"--database", cluster().uri(m_database)}));
    EXPECT_NE(admin({"users", "list"}), 0);
}

// A monthly quota counts what either instance translated: once the first has written its usage,
// the second refuses the request that would pass the quota, although it served none of it.
TEST_F(TwoInstances, AQuotaUsedUpOnOneInstanceIsRefusedOnTheOther) {
    ASSERT_EQ(admin({"users", "quota", "alice", "10"}), 0);
    ASSERT_TRUE(startBoth());
    std::string token = m_first.login("alice", "pw-alice");
    EXPECT_EQ(m_first.translate(token, "hello", "zh-CN").status, 200u);
    EXPECT_EQ(m_first.translate(token, "world", "zh-CN").status, 200u);
    EXPECT_EQ(m_first.translate(token, "again", "zh-CN").status, 429u);

    // The first instance writes its usage in a batch within a few seconds.
    const std::string written = "DO $$ BEGIN IF (SELECT coalesce(sum(characters), 0) FROM usage) "
                                "< 10 THEN RAISE EXCEPTION 'not yet'; END IF; END $$";
    ASSERT_TRUE(aurelo::test::runMainLoopUntil(
        [&] {
            aurelo::test::runMainLoopFor(200ms);
            return cluster().execute(m_database, written);
        },
        20s));
    Reply refused = m_second.translate(token, "hello", "zh-CN");
    EXPECT_EQ(refused.status, 429u);
    EXPECT_EQ(refused.error(), "本月翻译字数已用完（每月 10 字），请联系管理员。");
}

// The second instance serves a token from memory under load; the token revoked through the first
// instance or the admin command, or the password changed, its very next request is refused.
TEST_F(TwoInstances, RevocationUnderLoadIsRefusedOnTheOtherInstanceAtItsNextRequest) {
    ASSERT_TRUE(startBoth({"--rate-limit", "1000000"}));
    struct Case {
        const char* what;
        std::function<bool(const std::string& token)> revoke;
    } cases[] = {
        {"logout on the first instance",
         [&](const std::string& token) {
             return m_first.call("POST", "/api/auth/logout", json::object(), token).status == 204u;
         }},
        {"tokens revoke", [&](const std::string&) { return admin({"tokens", "revoke", "alice"}) == 0; }},
        {"set-password",
         [&](const std::string&) {
             return admin({"users", "set-password", "alice", "--password", "pw-alice"}) == 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string token = m_first.login("alice", "pw-alice");
        ASSERT_FALSE(token.empty());
        RequestLoad load(8, [&](int n) {
            return m_second.post("/api/translate",
                                 translationBody("line " + std::to_string(n % 20), "zh-CN", "google"),
                                 token);
        });
        aurelo::test::runMainLoopFor(500ms);
        ASSERT_TRUE(c.revoke(token));
        EXPECT_EQ(m_second.translate(token, "line 1", "zh-CN").status, 401u);
        EXPECT_EQ(engines(m_second, token).status, 401u);
        load.finish();
        EXPECT_GT(load.answers["200"], 0) << "the load ran before the revocation";
        for (const auto& [answer, count] : load.answers)
            EXPECT_TRUE(answer == "200" || answer.starts_with("401")) << answer;
    }
}

TEST(DatabaseOption, NamesTheSqliteFileTheServerAndAdminShare) {
    aurelo::test::TestDirectory folder;
    std::string location = "sqlite:" + (folder.path() / "accounts.sqlite3").string();
    ServiceProcess instance(ServiceProcess::builtBinary());
    ASSERT_EQ(instance.admin({"--database", location, "users", "add", "bob", "--password", "pw"}),
              0);
    ASSERT_TRUE(std::filesystem::exists(folder.path() / "accounts.sqlite3"));
    ASSERT_TRUE(instance.start({"--database", location}));
    EXPECT_FALSE(instance.login("bob", "pw").empty())
        << "the server reads the accounts from the named file";
    EXPECT_NE(instance.admin({"--database", "mysql://db/aurelo", "users", "list"}), 0);
}

} // namespace
} // namespace aurelo::service::test
