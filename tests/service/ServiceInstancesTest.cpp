// Two real aurelo-service processes on one PostgreSQL database (a private cluster on a Unix
// socket) must serve the application as one service: a login on one is good on the other, a
// revocation or password change on one is refused by the other, an engine the administrator
// enables reaches both, and the rate limits count the requests made to either. An instance that
// loses its database answers 503 and recovers by itself when the database returns.

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

HttpResponse call(HttpSession& client, HttpRequest request) {
    std::optional<HttpResult> answer;
    client.send(request, [&](HttpResult result) { answer = std::move(result); });
    if (!aurelo::test::runMainLoopUntil([&] { return answer.has_value(); }, 20s) || !*answer)
        return {};
    return **answer;
}

std::string errorOf(const HttpResponse& response) {
    auto body = json::parse(response.body, nullptr, false);
    return body.is_object() && body.contains("error") && body["error"].is_string()
               ? body["error"].get<std::string>()
               : "";
}

// Two instances over a fresh database, each with its own data folder and port, and one account
// ("alice", with Google translating through a fake provider).
class TwoInstances : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cluster().ready()) << cluster().failure();
        std::string database = "instances_" + std::to_string(++s_databases);
        ASSERT_TRUE(cluster().recreateDatabase(database));
        m_uri = cluster().uri(database);
        ASSERT_EQ(admin({"users", "add", "alice", "--password", "pw-alice"}), 0);
        ASSERT_EQ(admin({"engines", "enable", "alice", "google"}), 0);
        ASSERT_EQ(
            admin({"providers", "set", "google", "--key", "k", "--endpoint", m_provider.origin()}),
            0);
    }

    int admin(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--database", m_uri});
        return m_first.admin(arguments);
    }
    bool startBoth(std::vector<std::string> options = {}) {
        options.insert(options.end(), {"--database", m_uri});
        return m_first.start(options) && m_second.start(options);
    }
    std::string login(const ServiceProcess& instance, const std::string& password = "pw-alice") {
        auto answer =
            call(m_client,
                 instance.post("/api/auth/login", {{"username", "alice"}, {"password", password}}));
        auto body = json::parse(answer.body, nullptr, false);
        return answer.status == 200 ? body["token"].get<std::string>() : "";
    }
    HttpResponse engines(const ServiceProcess& instance, const std::string& token) {
        return call(m_client, {"GET",
                               instance.origin() + "/api/engines",
                               {{"Authorization", "Bearer " + token}},
                               std::nullopt,
                               {},
                               {}});
    }
    HttpResponse translate(const ServiceProcess& instance, const std::string& token,
                           const std::string& text) {
        return call(m_client,
                    instance.post("/api/translate",
                                  {{"text", text}, {"target", "zh-CN"}, {"provider", "google"}},
                                  token));
    }

    FakeUpstream m_provider{[](const UpstreamRequest& r) { return googleTranslations(r, 0ms); }};
    ServiceProcess m_first{ServiceProcess::builtBinary()};
    ServiceProcess m_second{ServiceProcess::builtBinary()};
    HttpSession m_client{HttpSessionConfiguration{20s, 20s, 8, {}}};
    std::string m_uri;
    static inline int s_databases = 0;
};

TEST_F(TwoInstances, ServeAsOneServiceForTokensEnginesRevocationAndPasswords) {
    ASSERT_TRUE(startBoth());
    std::string token = login(m_first);
    ASSERT_FALSE(token.empty());

    auto translated = translate(m_second, token, "hello");
    EXPECT_EQ(translated.status, 200u) << translated.body;
    EXPECT_EQ(json::parse(translated.body, nullptr, false)["text"], "译:hello");

    // Enabled by the administrator while both run: the next list on either instance has it.
    ASSERT_EQ(admin({"engines", "enable", "alice", "deepl", "--label", "DeepL"}), 0);
    auto listed = engines(m_second, token);
    ASSERT_EQ(listed.status, 200u);
    EXPECT_EQ(json::parse(listed.body)["engines"].size(), 2u);

    // A logout on one instance ends the token on the other.
    std::string second = login(m_second);
    ASSERT_FALSE(second.empty());
    auto logout = call(m_client, m_first.post("/api/auth/logout", json::object(), second));
    EXPECT_EQ(logout.status, 204u);
    auto afterLogout = engines(m_second, second);
    EXPECT_EQ(afterLogout.status, 401u);
    EXPECT_EQ(errorOf(afterLogout), "登录已失效，请重新登录。");

    // Revoked with the admin command: refused by both at once.
    ASSERT_EQ(engines(m_first, token).status, 200u);
    ASSERT_EQ(admin({"tokens", "revoke", "alice"}), 0);
    EXPECT_EQ(engines(m_first, token).status, 401u);
    EXPECT_EQ(engines(m_second, token).status, 401u);

    // A new password: tokens issued before are refused everywhere, the old password too.
    std::string before = login(m_second);
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(admin({"users", "set-password", "alice", "--password", "pw-new"}), 0);
    EXPECT_EQ(translate(m_first, before, "again").status, 401u);
    EXPECT_TRUE(login(m_first).empty());
    EXPECT_FALSE(login(m_second, "pw-new").empty());
}

TEST_F(TwoInstances, RateLimitsCountRequestsToEitherInstance) {
    ASSERT_TRUE(startBoth({"--rate-limit", "6", "--login-user-rate-limit", "3"}));
    // The instances count per minute of the clock: start in a minute with room for the test.
    if (std::time(nullptr) % 60 > 45)
        aurelo::test::runMainLoopFor(std::chrono::seconds(61 - std::time(nullptr) % 60));

    // Login attempts for one name: two wrong ones on the first, one right one on the second;
    // the fourth is refused wherever it is sent.
    EXPECT_TRUE(login(m_first, "wrong").empty());
    EXPECT_TRUE(login(m_first, "wrong").empty());
    std::string token = login(m_second);
    ASSERT_FALSE(token.empty());
    auto refused =
        call(m_client, m_first.post("/api/auth/login", {{"username", "alice"}, {"password", "x"}}));
    EXPECT_EQ(refused.status, 429u);
    EXPECT_EQ(errorOf(refused), "登录尝试过于频繁，请稍后再试。");
    EXPECT_TRUE(login(m_second).empty());

    // Six requests per minute for the account, alternating between the instances: the seventh
    // is refused, whichever instance it reaches.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(engines(i % 2 ? m_second : m_first, token).status, 200u) << i;
    auto limited = engines(m_second, token);
    EXPECT_EQ(limited.status, 429u);
    EXPECT_EQ(errorOf(limited), "请求过于频繁，请稍后再试。");
    EXPECT_EQ(engines(m_first, token).status, 429u);
    EXPECT_EQ(engines(m_second, token).status, 429u);
}

TEST_F(TwoInstances, AnInstanceAnswers503WhileTheDatabaseIsDownAndRecoversByItself) {
    ASSERT_TRUE(startBoth({"--database-wait-ms", "500"}));
    std::string token = login(m_first);
    ASSERT_FALSE(token.empty());
    ASSERT_EQ(translate(m_second, token, "before").status, 200u);

    ASSERT_TRUE(cluster().stop());
    auto refused = engines(m_second, token);
    EXPECT_EQ(refused.status, 503u);
    EXPECT_EQ(errorOf(refused), "数据库暂时不可用，请稍后重试。");
    auto health = call(m_client, {"GET", m_first.origin() + "/healthz", {}, std::nullopt, {}, {}});
    EXPECT_EQ(health.status, 503u);
    EXPECT_EQ(json::parse(health.body, nullptr, false)["database"],
              json({{"backend", "postgresql"}, {"state", "unavailable"}}));
    EXPECT_EQ(login(m_first), "") << "no token can be issued without the database";

    ASSERT_TRUE(cluster().start());
    // The instances were not restarted: their next requests find the database again.
    bool recovered = aurelo::test::runMainLoopUntil(
        [&] {
            aurelo::test::runMainLoopFor(200ms);
            return engines(m_second, token).status == 200u;
        },
        20s);
    EXPECT_TRUE(recovered);
    EXPECT_EQ(translate(m_first, token, "after").status, 200u);
    health = call(m_client, {"GET", m_first.origin() + "/healthz", {}, std::nullopt, {}, {}});
    EXPECT_EQ(health.status, 200u);
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
        auto answer = call(m_client, m_first.post("/api/auth/login", {{"username", c.username},
                                                                      {"password", c.password}}));
        EXPECT_EQ(answer.status, 401u) << answer.body;
        EXPECT_EQ(errorOf(answer), "用户名或密码错误。");
    }
    EXPECT_FALSE(login(m_second).empty());
}

TEST_F(TwoInstances, RefuseToStartOnADatabaseFromANewerVersion) {
    ASSERT_TRUE(cluster().execute(
        m_uri.substr(m_uri.find("///") + 3, m_uri.find('?') - m_uri.find("///") - 3),
        "UPDATE schema_version SET version = 99"));
    EXPECT_FALSE(m_first.start({"--database", m_uri}));
    EXPECT_NE(admin({"users", "list"}), 0);
}

TEST(DatabaseOption, TheConfigurationFileNamesTheSqliteFileTheServerAndAdminShare) {
    aurelo::test::TestDirectory folder;
    auto file = folder.path() / "elsewhere" / "accounts.sqlite3";
    std::filesystem::create_directories(file.parent_path());
    auto config = folder.path() / "aurelo-service.conf";
    aurelo::test::writeFile(config, "database = sqlite:" + file.string() + "\n");
    ServiceProcess instance(ServiceProcess::builtBinary());
    std::string location = "sqlite:" + file.string();
    ASSERT_EQ(instance.admin({"--database", location, "users", "add", "bob", "--password", "pw"}),
              0);
    ASSERT_TRUE(instance.start({"--config", config.string()}));
    HttpSession client(HttpSessionConfiguration{20s, 20s, 2, {}});
    auto answer =
        call(client, instance.post("/api/auth/login", {{"username", "bob"}, {"password", "pw"}}));
    EXPECT_EQ(answer.status, 200u) << "the server reads the accounts from the named file";
    EXPECT_NE(instance.admin({"--database", "mysql://db/aurelo", "users", "list"}), 0);
}

} // namespace
} // namespace aurelo::service::test
