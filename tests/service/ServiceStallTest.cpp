// A PostgreSQL server that stops answering without closing its connections (SIGSTOP, as a stalled
// machine or stuck storage would) while an agent keeps working: every request that needs the
// database ends at the database deadline with 503 and Retry-After, requests that do not need it and
// the health check answer at once, and the instance serves again when the server wakes, unrestarted.

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

// Requests kept in flight on the service, each timed from its sending to its answer.
class TimedLoad {
public:
    TimedLoad(std::function<HttpRequest(int)> make) : m_make(std::move(make)) {}

    void start(int inFlight) {
        for (int i = 0; i < inFlight; ++i)
            launch();
    }
    // Stops launching and waits for the requests still out.
    void finish() {
        m_stopping = true;
        aurelo::test::runMainLoopUntil([&] { return m_answered == m_sent; }, 30s);
    }

    int succeeded = 0, refused = 0, other = 0;
    std::chrono::milliseconds longest{0};
    std::string firstOther;

private:
    void launch() {
        auto sent = std::chrono::steady_clock::now();
        ++m_sent;
        m_client.send(m_make(m_sent), [this, sent](HttpResult result) {
            ++m_answered;
            longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - sent));
            if (result && result->status == 200) {
                ++succeeded;
            } else if (result && result->status == 503 &&
                       json::parse(result->body, nullptr, false)["error"] ==
                           "数据库暂时不可用，请稍后重试。") {
                ++refused;
            } else {
                if (other++ == 0)
                    firstOther = result ? std::to_string(result->status) + " " + result->body
                                        : result.error().description;
            }
            if (!m_stopping)
                launch();
        });
    }

    std::function<HttpRequest(int)> m_make;
    HttpSession m_client{HttpSessionConfiguration{30s, 30s, 16, {}}};
    int m_sent = 0, m_answered = 0;
    bool m_stopping = false;
};

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
            bodyStart == std::string::npos ? json()
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
    TimedLoad load([&](int n) {
        if (n % 2)
            return serviceRequest(instance.origin(), "GET", "/api/engines", std::nullopt, token);
        return instance.post(
            "/api/translate",
            {{"text", "message " + std::to_string(n)}, {"target", "zh-CN"}, {"provider", "google"}},
            token);
    });
    load.start(8);
    aurelo::test::runMainLoopFor(1s);
    ASSERT_GT(load.succeeded, 0) << load.firstOther;

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
    int before = load.succeeded;
    aurelo::test::runMainLoopFor(1s);
    load.finish();

    EXPECT_GT(load.succeeded, before) << "the load is served again";
    EXPECT_GT(load.refused, 0);
    EXPECT_EQ(load.other, 0) << load.firstOther;
    EXPECT_LT(load.longest, kDeadline + kSlack) << "no request waits for the stalled database";
    EXPECT_EQ(ask(instance.port(), "/healthz", "", 5s).status, 200u);
}

} // namespace
} // namespace aurelo::service::test
