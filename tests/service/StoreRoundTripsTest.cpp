// On both stores: the statements that do a request's first database work in one round trip (the
// token with its rate-limit count; the engines with their providers' settings) answer exactly what
// the separate statements do, and an account id is never used twice.

#include "StoreKinds.hpp"

#include "service/ServiceDatabase.hpp"
#include "support/TestDirectory.hpp"

#include <gtest/gtest.h>

namespace aurelo::service::test::trips {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;

class StoreRoundTrips : public ::testing::TestWithParam<DatabaseLocation::Kind> {
protected:
    void SetUp() override {
        DatabaseLocation location{GetParam(), (m_folder.path() / "trips.sqlite3").string()};
        if (GetParam() == DatabaseLocation::Kind::postgresql) {
            ASSERT_TRUE(sharedCluster().ready()) << sharedCluster().failure();
            ASSERT_TRUE(sharedCluster().recreateDatabase("round_trips"));
            location.target = sharedCluster().uri("round_trips");
        }
        auto opened = ServiceDatabase::open(location);
        ASSERT_TRUE(opened) << opened.error().message;
        m_store = std::move(*opened);
    }
    aurelo::test::TestDirectory m_folder;
    std::unique_ptr<ServiceDatabase> m_store;
};

TEST_P(StoreRoundTrips, ATokensAccountComesWithItsCountAndOnlyAKnownTokenCounts) {
    auto& db = *m_store;
    auto alice = db.addUser("alice", "h", kNow).value();
    ASSERT_TRUE(db.storeToken(alice, "live", kNow, kNow + 100));
    ASSERT_TRUE(db.storeToken(alice, "old", kNow - 200, kNow - 100));
    for (std::int64_t expected : {1, 2}) {
        auto found = db.accountForRequest("live", kNow, "account:", 7).value();
        ASSERT_TRUE(found.account);
        EXPECT_EQ(found.account->username, "alice");
        EXPECT_EQ(found.count, expected);
    }
    EXPECT_FALSE(db.accountForRequest("old", kNow, "account:", 7).value().account);
    EXPECT_FALSE(db.accountForRequest("unknown", kNow, "account:", 7).value().account);
    EXPECT_EQ(db.countRequest("account:" + std::to_string(alice), 7).value(), 3)
        << "the same key as countRequest, and nothing counted for refused tokens";
}

TEST_P(StoreRoundTrips, EnginesComeWithTheirBackendsSettings) {
    auto& db = *m_store;
    auto alice = db.addUser("alice", "h", kNow).value();
    ASSERT_TRUE(db.enableEngine("alice", {"google", "Google", std::nullopt, "google"}).value());
    ASSERT_TRUE(db.enableEngine("alice", {"deepl", "DeepL", "m", "apertium"}).value());
    ASSERT_TRUE(db.enableEngine("alice", {"openai", "GPT", "gpt-x", "openai"}).value());
    ASSERT_TRUE(db.setProviderSettings({"google", "gk", "http://g", "", ""}));
    ASSERT_TRUE(db.setProviderSettings({"apertium", "never", "", "", ""}));
    auto all = db.enginesWithSettings(alice).value();
    auto engines = db.engines(alice).value();
    ASSERT_EQ(all.size(), engines.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(engines[i].provider);
        EXPECT_EQ(all[i].engine, engines[i]);
        ProviderSettings expected =
            engines[i].backend == "apertium" ? ProviderSettings{}
                                             : db.providerSettings(engines[i].backend).value();
        EXPECT_EQ(all[i].settings.name, expected.name);
        EXPECT_EQ(all[i].settings.apiKey, expected.apiKey);
        EXPECT_EQ(all[i].settings.endpoint, expected.endpoint);
    }
}

TEST_P(StoreRoundTrips, AccountIdsAreNotReusedAfterTheNewestAccountIsRemoved) {
    auto& db = *m_store;
    auto alice = db.addUser("alice", "h", kNow).value();
    auto bob = db.addUser("bob", "h", kNow).value();
    ASSERT_TRUE(db.removeUser("bob").value());
    auto carol = db.addUser("carol", "h", kNow).value();
    EXPECT_GT(carol, bob);
    EXPECT_EQ(db.accountIds().value(), (std::vector<std::int64_t>{alice, carol}));
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreRoundTrips, kBothStores, storeName);

} // namespace
} // namespace aurelo::service::test::trips
