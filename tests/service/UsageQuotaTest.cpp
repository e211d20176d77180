// Usage counted per account, engine and day and written in batches; monthly quotas met by the
// server and shown by the application as the service words them; the admin command's report.

#include "ServiceHarness.hpp"

#include "service/AdminCommand.hpp"
#include "service/UsageBatch.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace aurelo::service::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

TEST(UsageDays, ParseOnlyRealDatesAndFindTheMonthsFirstDay) {
    const std::int64_t dec7 = 1'796'601'600 / 86400; // 2026-12-07, UTC
    struct Case {
        const char* text;
        std::optional<std::int64_t> day;
    } cases[] = {
        {"2026-12-07", dec7}, {"2026-12-01", dec7 - 6}, {"2027-01-01", dec7 + 25},
        {"2026-02-29", {}},   {"2026-13-01", {}},       {"2026-1-07", {}},
        {"2026-12-07x", {}},  {" 2026-12-07", {}},      {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseUsageDay(c.text), c.day);
        if (c.day) {
            EXPECT_EQ(usageDayText(*c.day), c.text);
        }
    }
    EXPECT_EQ(monthStartDay(dec7 * 86400 + 86399), dec7 - 6);
}

TEST(UsageBatch, AWriteThatFailedIsWrittenWithTheNextAndCountsAsPendingMeanwhile) {
    UsageBatch batch;
    batch.record(1, "google", 100, 5);
    batch.record(1, "google", 100, 7);
    batch.record(2, "deepl", 100, 3);
    auto first = batch.take();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].characters, 12);
    EXPECT_EQ(first[0].requests, 2);
    EXPECT_TRUE(batch.take().empty()) << "one write at a time";
    batch.record(1, "google", 101, 4);
    EXPECT_EQ(batch.pendingCharacters(1, 100), 16) << "what is being written counts until settled";
    EXPECT_EQ(batch.pendingCharacters(1, 101), 4);
    batch.settle(false);
    auto again = batch.take();
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(again[0].characters, 12);
    batch.settle(true);
    EXPECT_EQ(batch.pendingCharacters(1, 0), 0);
    EXPECT_TRUE(batch.takeAll().empty());
}

struct AdminRunResult {
    int code;
    std::string out;
    std::string err;
};

AdminRunResult adminRun(const ServiceHarness& harness, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--data", harness.dataDirectory().string()});
    std::istringstream in;
    std::ostringstream out, err;
    int code = runAdminCommand(arguments, in, out, err);
    return {code, out.str(), err.str()};
}

// A quota set by the admin command while the server runs; requests within it pass, the one that
// would pass it is refused with the words the application shows; usage reaches the database
// without a write per request, and the report adds it up.
TEST(Quotas, RefuseTheRequestThatWouldPassTheQuotaAndTheApplicationShowsWhy) {
    ServiceHarness harness([](ServiceConfiguration& c) { c.usageInterval = 100ms; });
    FakeUpstream google{[](const UpstreamRequest& r) { return googleTranslations(r, 0ms); }};
    std::string token = harness.userWithEngine("alice", "google", google);
    ASSERT_EQ(adminRun(harness, {"users", "quota", "alice", "12"}).code, 0);
    EXPECT_EQ(adminRun(harness, {"users", "quota", "alice", "-1"}).code, 2);
    EXPECT_EQ(adminRun(harness, {"users", "quota", "nobody", "5"}).err, "用户 nobody 不存在。\n");

    EXPECT_EQ(harness.translate(token, "hello", "de").status, 200u);
    EXPECT_EQ(harness.translate(token, json::array({"你好", "world"}), "de").status, 200u);
    Reply over = harness.translate(token, "hello", "de");
    EXPECT_EQ(over.status, 429u);
    EXPECT_EQ(over.json, json({{"error", "本月翻译字数已用完（每月 12 字），请联系管理员。"}}));

    HttpSession session(TranslationNetwork::sessionConfiguration());
    TranslationRequestCache cache;
    TranslationService client(harness.server().origin(), session, cache);
    std::optional<ServiceOutcome<TranslationResult>> refused;
    client.translate("x", "de", {TranslationProvider::Google, token, "", ""},
                     [&](auto outcome) { refused = std::move(outcome); });
    ASSERT_TRUE(aurelo::test::runMainLoopUntil([&] { return refused.has_value(); }));
    EXPECT_EQ(*refused ? std::string("<success>") : describe(refused->error()),
              "本月翻译字数已用完（每月 12 字），请联系管理员。");

    // Written by the server's batch, not by each request.
    std::string report;
    ASSERT_TRUE(aurelo::test::runMainLoopUntil([&] {
        report = adminRun(harness, {"usage", "--account", "alice", "--since", "2000-01-01", "--json"}).out;
        return report.contains("\"characters\": 12");
    })) << report;
    auto rows = json::parse(report);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["account"], "alice");
    EXPECT_EQ(rows[0]["engine"], "google");
    EXPECT_EQ(rows[0]["requests"], 2) << "refused requests are not usage";
    EXPECT_EQ(rows[0]["date"], "2027-01-15") << "the day of the server's clock, UTC";

    AdminRunResult table = adminRun(harness, {"usage", "--since", "2027-01-15"});
    EXPECT_TRUE(table.out.starts_with("日期\t用户\t引擎\t字数\t请求数\n")) << table.out;
    EXPECT_TRUE(table.out.ends_with("合计\t\t\t12\t2\n")) << table.out;
    EXPECT_EQ(adminRun(harness, {"usage", "--since", "2026-02-30"}).code, 2);
    EXPECT_EQ(adminRun(harness, {"usage", "--account", "nobody"}).code, 1);

    ASSERT_EQ(adminRun(harness, {"users", "quota", "alice", "none"}).code, 0);
    EXPECT_TRUE(aurelo::test::runMainLoopUntil(
        [&] { return harness.translate(token, "hello", "de").status == 200u; }))
        << "a quota removed applies once the server reads quotas again";
}

} // namespace
} // namespace aurelo::service::test
