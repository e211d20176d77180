// The built service under load and attack at once; bench/service reports what the attack
// costs in memory.

#include "AbuseClients.hpp"
#include "ServiceHarness.hpp"
#include "ServiceProcess.hpp"

#include <gtest/gtest.h>

namespace aurelo::service::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

TEST(ServiceUnderAbuse, AccountsAreServedAttackersClosedAndNothingBuffered) {
    FakeUpstream provider([](const UpstreamRequest& r) { return googleTranslations(r, 20ms); });
    ServiceProcess service(ServiceProcess::builtBinary());
    ASSERT_TRUE(service.start({"--header-timeout-s", "2", "--body-timeout-s", "4"}));
    ASSERT_EQ(service.admin(
                  {"providers", "set", "google", "--key", "k", "--endpoint", provider.origin()}),
              0);
    constexpr int kAccounts = 4;
    std::vector<std::string> tokens;
    for (int i = 0; i < kAccounts; ++i) {
        std::string user = "agent" + std::to_string(i);
        ASSERT_EQ(service.admin({"users", "add", user, "--password", "pw-" + user}), 0);
        ASSERT_EQ(service.admin({"engines", "enable", user, "google"}), 0);
        tokens.push_back(service.login(user, "pw-" + user));
        ASSERT_FALSE(tokens.back().empty());
    }

    HttpSession client(HttpSessionConfiguration{30s, 30s, 16, {}});
    AbuseClients attack({.port = service.port(), .slowClients = 60, .drip = 400ms, .duration = 8s});
    auto load = service.keepBusy(client, 16, 8s, [&](int n) {
        return service.post("/api/translate",
                            translationBody("message " + std::to_string(n), "zh-CN", "google"),
                            tokens[static_cast<std::size_t>(n % kAccounts)]);
    });
    AbuseReport report = attack.finish();

    EXPECT_EQ(load.failed, 0);
    EXPECT_GE(load.succeeded, 40) << "the accounts must keep being served";
    EXPECT_EQ(report.slowOpened, 60);
    EXPECT_EQ(report.slowClosedByServer, report.slowOpened) << "slow clients must not be held";
    EXPECT_GE(report.bodyAttempts, 8);
    EXPECT_EQ(report.bodyCutShort, report.bodyAttempts)
        << "every large body without a token is answered before it is read";
    // 401 for the missing token; 503 once the attacker's own address holds as many connections
    // as one address may.
    EXPECT_GT(report.bodyStatuses[401], 0);
    for (const auto& [status, count] : report.bodyStatuses)
        EXPECT_TRUE(status == 401u || status == 503u) << count << " answers " << status;
}

} // namespace
} // namespace aurelo::service::test
