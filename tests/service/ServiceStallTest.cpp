// A PostgreSQL server that stops answering without closing its connections (SIGSTOP, as a stalled
// machine or stuck storage would) while an agent keeps working: every request that needs the
// database ends at the database deadline with 503 and Retry-After, requests that do not need it and
// the health check answer at once, and the instance serves again when the server wakes,
// unrestarted.

#include "PostgresCluster.hpp"
#include "RawConnection.hpp"
#include "ServiceHarness.hpp"
#include "ServiceProcess.hpp"

#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using nlohmann::json;

namespace aurelo::service::test {
namespace {

constexpr auto kDeadline = 2000ms;
// What a request may take beyond the deadline: the answer's own way back, on a loaded machine.
constexpr auto kSlack = 1500ms;

constexpr const char* kRefused = "503 数据库暂时不可用，请稍后重试。";

// A request on a connection of its own, answered (or not) within `limit`.
struct RawAnswer {
    unsigned status = 0;
    std::string retryAfter;
    json body;
};
RawAnswer ask(unsigned port, const std::string& path, const std::string& token,
              std::chrono::milliseconds limit) {
    RawConnection connection(port);
    connection.send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                    (token.empty() ? "" : "Authorization: Bearer " + token + "\r\n") + "\r\n");
    connection.waitUntilClosed(limit);
    const std::string& text = connection.received();
    auto bodyStart = text.find("\r\n\r\n");
    return {connection.status(), connection.header("Retry-After"),
            bodyStart == std::string::npos
                ? json()
                : json::parse(text.substr(bodyStart + 4), nullptr, false)};
}

TEST(StalledDatabase, RequestsEndAtTheDeadlineOthersAnswerAtOnceAndTheInstanceRecovers) {
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.ready()) << cluster.failure();
    ASSERT_TRUE(cluster.recreateDatabase("stall"));
    FakeUpstream provider([](const UpstreamRequest& r) { return googleTranslations(r, 0ms); });
    ServiceProcess instance(ServiceProcess::builtBinary());
    auto admin = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--database", cluster.uri("stall")});
        return instance.admin(arguments);
    };
    ASSERT_EQ(admin({"users", "add", "alice", "--password", "pw-alice"}), 0);
    ASSERT_EQ(admin({"engines", "enable", "alice", "google"}), 0);
    ASSERT_EQ(admin({"providers", "set", "google", "--key", "k", "--endpoint", provider.origin()}),
              0);
    ASSERT_TRUE(instance.start({"--database", cluster.uri("stall"), "--database-timeout-ms",
                                std::to_string(kDeadline.count()), "--rate-limit", "100000"}));
    std::string token = instance.login("alice", "pw-alice");
    ASSERT_FALSE(token.empty());

    // Engine lists and translations of texts never seen before (no result is cached).
    RequestLoad load(8, [&](int n) {
        if (n % 2)
            return serviceRequest(instance.origin(), "GET", "/api/engines", std::nullopt, token);
        return instance.post("/api/translate",
                             translationBody("message " + std::to_string(n), "zh-CN", "google"),
                             token);
    });
    aurelo::test::runMainLoopFor(1s);
    ASSERT_GT(load.answers["200"], 0) << testing::PrintToString(load.answers);

    ASSERT_TRUE(cluster.freeze());
    aurelo::test::runMainLoopFor(kDeadline + 500ms);
    // What needs no database answers at once, the health check included, which names the stall.
    RawAnswer health = ask(instance.port(), "/healthz", "", 1000ms);
    EXPECT_EQ(health.status, 503u);
    EXPECT_EQ(health.body["database"], json({{"backend", "postgresql"}, {"state", "stalled"}}));
    EXPECT_EQ(ask(instance.port(), "/nope", "", 1000ms).status, 404u);
    // What needs it is refused within the deadline, and told when to try again.
    RawAnswer refused = ask(instance.port(), "/api/engines", token, kDeadline + kSlack);
    EXPECT_EQ(refused.status, 503u);
    EXPECT_EQ(refused.body["error"], "数据库暂时不可用，请稍后重试。");
    EXPECT_EQ(refused.retryAfter, "5");
    aurelo::test::runMainLoopFor(4s); // the stall goes on, well past the deadline

    ASSERT_TRUE(cluster.thaw());
    EXPECT_TRUE(aurelo::test::runMainLoopUntil(
        [&] {
            aurelo::test::runMainLoopFor(200ms);
            return ask(instance.port(), "/api/engines", token, 5s).status == 200u;
        },
        20s))
        << "the instance serves again without a restart";
    int before = load.answers["200"];
    aurelo::test::runMainLoopFor(1s);
    load.finish();

    EXPECT_GT(load.answers["200"], before) << "the load is served again";
    EXPECT_GT(load.answers[kRefused], 0);
    EXPECT_EQ(load.answers["200"] + load.answers[kRefused], load.answered())
        << testing::PrintToString(load.answers);
    EXPECT_LT(load.longest, kDeadline + kSlack) << "no request waits for the stalled database";
    EXPECT_EQ(ask(instance.port(), "/healthz", "", 5s).status, 200u);
}

} // namespace
} // namespace aurelo::service::test
