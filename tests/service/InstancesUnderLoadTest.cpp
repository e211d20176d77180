// Two instances on one PostgreSQL database, one of them under load: a logout on one instance and an
// engine disabled by the administrator count on the other from its first request after the commit,
// although that instance keeps engine lists in memory.

#include "PostgresCluster.hpp"
#include "ServiceHarness.hpp"
#include "ServiceProcess.hpp"

#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

namespace aurelo::service::test::under_load {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

TEST(TwoInstancesUnderLoad, ALogoutAndADisabledEngineCountOnTheOtherFromItsNextRequest) {
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.ready()) << cluster.failure();
    ASSERT_TRUE(cluster.recreateDatabase("under_load"));
    FakeUpstream provider([](const UpstreamRequest& r) { return googleTranslations(r, 0ms); });
    ServiceProcess first(ServiceProcess::builtBinary()), second(ServiceProcess::builtBinary());
    auto admin = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--database", cluster.uri("under_load")});
        return first.admin(arguments);
    };
    ASSERT_EQ(admin({"users", "add", "alice", "--password", "pw-alice"}), 0);
    ASSERT_EQ(admin({"engines", "enable", "alice", "google"}), 0);
    ASSERT_EQ(admin({"providers", "set", "google", "--key", "k", "--endpoint", provider.origin()}),
              0);
    std::vector<std::string> options = {"--database", cluster.uri("under_load"), "--rate-limit",
                                        "1000000"};
    ASSERT_TRUE(first.start(options) && second.start(options));
    std::string token = first.login("alice", "pw-alice");
    ASSERT_FALSE(token.empty());
    auto translate = [&](int n) {
        return second.post("/api/translate",
                           {{"text", "line " + std::to_string(n % 20)},
                            {"target", "zh-CN"},
                            {"provider", "google"}},
                           token);
    };

    // Eight requests in flight on the second instance, from its engine list kept in memory.
    HttpSession client(HttpSessionConfiguration{30s, 30s, 16, {}});
    int sent = 0, answered = 0, serverErrors = 0;
    bool stopping = false;
    std::function<void()> launch = [&] {
        client.send(translate(sent++), [&](HttpResult result) {
            ++answered;
            if (!result || result->status >= 500)
                ++serverErrors;
            if (!stopping)
                launch();
        });
    };
    for (int i = 0; i < 8; ++i)
        launch();
    aurelo::test::runMainLoopFor(1s);

    ASSERT_EQ(admin({"engines", "disable", "alice", "google"}), 0);
    Reply refused = second.call("POST", "/api/translate",
                                json{{"text", "line 1"}, {"target", "zh-CN"}, {"provider", "google"}},
                                token);
    EXPECT_EQ(refused.status, 403u) << refused.body;
    EXPECT_EQ(refused.error(), "当前账号未启用 Google Translate，请联系管理员。");

    ASSERT_EQ(first.call("POST", "/api/auth/logout", json::object(), token).status, 204u);
    Reply loggedOut = second.call("GET", "/api/engines", std::nullopt, token);
    EXPECT_EQ(loggedOut.status, 401u) << loggedOut.body;

    stopping = true;
    aurelo::test::runMainLoopUntil([&] { return answered == sent; }, 30s);
    EXPECT_GT(answered, 8);
    EXPECT_EQ(serverErrors, 0);
}

} // namespace
} // namespace aurelo::service::test::under_load
