// /metrics: who may read it, and that what it counts is what happened.

#include "ServiceHarness.hpp"

#include "service/MetricsAccess.hpp"

#include <gtest/gtest.h>

namespace aurelo::service::test {
namespace {

using namespace std::chrono_literals;

TEST(MetricsAccess, AllowsOnlyTheListedAddressesAndNetworks) {
    auto access = MetricsAccess::parse("127.0.0.1, 10.0.0.0/8,::1");
    ASSERT_TRUE(access);
    struct Case {
        const char* address;
        bool allowed;
    } cases[] = {
        {"127.0.0.1", true}, {"10.200.3.4", true},   {"::1", true},  {"127.0.0.2", false},
        {"11.0.0.1", false}, {"::ffff:10.0.0.1", false}, {"", false}, {"not an address", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(access->allows(c.address), c.allowed) << c.address;
    EXPECT_FALSE(MetricsAccess().allows("127.0.0.1")) << "nobody by default";
    for (const char* bad : {"10.0.0.0/33", "example.com", "127.0.0.1,,x"})
        EXPECT_FALSE(MetricsAccess::parse(bad)) << bad;
    EXPECT_EQ(MetricsAccess::parse("10.0.0.0/33").error(),
              "--metrics-allow 中的地址无效：10.0.0.0/33（例如 127.0.0.1 或 10.0.0.0/8）");
}

TEST(Metrics, AreAnUnknownPageToAddressesNotAllowed) {
    for (const char* allow : {"", "10.0.0.0/8"}) {
        ServiceHarness harness([&](ServiceConfiguration& c) {
            c.metricsAccess = MetricsAccess::parse(allow).value();
        });
        Reply reply = harness.call("GET", "/metrics");
        EXPECT_EQ(reply.status, 404u) << allow;
        EXPECT_EQ(reply.error(), "请求的接口不存在。");
    }
}

TEST(Metrics, CountRequestsProviderCallsCacheHitsAndDatabaseWorkers) {
    ServiceHarness harness([](ServiceConfiguration& c) {
        c.metricsAccess = MetricsAccess::parse("127.0.0.1").value();
    });
    FakeUpstream google{[](const UpstreamRequest& r) { return googleTranslations(r, 0ms); }};
    std::string token = harness.userWithEngine("alice", "google", google);
    ASSERT_EQ(harness.translate(token, "hello", "de").status, 200u);
    ASSERT_EQ(harness.translate(token, "hello", "de").status, 200u); // from the cache
    ASSERT_EQ(harness.translate(token, "hello", "de", "deepl").status, 403u);
    harness.call("GET", "/wp-login.php");

    Reply metrics = harness.call("GET", "/metrics");
    ASSERT_EQ(metrics.status, 200u);
    for (const char* expected : {
             "aurelo_requests_total{route=\"/api/translate\",status=\"200\"} 2\n",
             "aurelo_requests_total{route=\"/api/translate\",status=\"403\"} 1\n",
             "aurelo_requests_total{route=\"other\",status=\"404\"} 1\n",
             "aurelo_request_duration_seconds_count{route=\"/api/translate\"} 3\n",
             "aurelo_request_duration_seconds_bucket{route=\"/api/translate\",le=\"+Inf\"} 3\n",
             "aurelo_provider_calls_total{engine=\"google\"} 1\n",
             "aurelo_provider_failures_total{engine=\"google\"} 0\n",
             "aurelo_cache_lookups_total 2\n",
             "aurelo_cache_hits_total 1\n",
             "aurelo_database_workers 1\n",
             "# TYPE aurelo_database_wait_seconds histogram\n",
         })
        EXPECT_TRUE(metrics.body.contains(expected)) << expected << "\n" << metrics.body;
}

} // namespace
} // namespace aurelo::service::test
