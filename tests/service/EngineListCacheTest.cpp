// Engine lists are kept in each instance's memory, and a change made anywhere still counts from the
// next request on: another connection's commit (the admin command on SQLite, another instance on
// PostgreSQL) and this store's own writes. On PostgreSQL, while the notification connection is
// lost, lists are read from the database instead.

#include "StoreKinds.hpp"

#include "service/ServiceDatabase.hpp"
#include "support/MainLoopWait.hpp"
#include "support/TestDirectory.hpp"

#include <gtest/gtest.h>

namespace aurelo::service::test::engine_cache {
namespace {

using namespace std::chrono_literals;
constexpr std::int64_t kNow = 1'800'000'000;

std::vector<std::string> providers(ServiceDatabase& store, std::int64_t user) {
    std::vector<std::string> names;
    auto engines = store.enginesWithSettings(user).value(); // kept: the loop outlives a temporary
    for (const auto& entry : engines)
        names.push_back(entry.engine.provider + "@" + entry.settings.endpoint);
    return names;
}

class EngineListCaching : public ::testing::TestWithParam<DatabaseLocation::Kind> {
protected:
    void SetUp() override {
        m_location = {GetParam(), (m_folder.path() / "cache.sqlite3").string()};
        if (postgres()) {
            ASSERT_TRUE(sharedCluster().ready()) << sharedCluster().failure();
            ASSERT_TRUE(sharedCluster().recreateDatabase("engine_cache"));
            m_location.target = sharedCluster().uri("engine_cache");
        }
        m_instance = open();
        m_other = open(); // another instance, or the admin command
        ASSERT_TRUE(m_instance && m_other);
        m_alice = m_other->addUser("alice", "h", kNow).value();
        ASSERT_TRUE(m_other->enableEngine("alice", {"google", "Google", std::nullopt, "google"}));
        ASSERT_TRUE(m_other->setProviderSettings({"google", "k", "http://one", "", ""}));
    }
    bool postgres() const { return GetParam() == DatabaseLocation::Kind::postgresql; }
    std::unique_ptr<ServiceDatabase> open() {
        auto opened = ServiceDatabase::open(m_location);
        EXPECT_TRUE(opened) << opened.error().message;
        return opened ? std::move(*opened) : nullptr;
    }
    // The instance's list once it reflects `expected`: at once on SQLite; on PostgreSQL once the
    // notification has arrived, which is well within the time a request takes.
    bool sees(const std::vector<std::string>& expected) {
        return aurelo::test::runMainLoopUntil(
            [&] { return providers(*m_instance, m_alice) == expected; }, postgres() ? 2s : 0s);
    }
    // Waits until the instance's notification connection listens.
    bool listening() {
        return aurelo::test::runMainLoopUntil(
            [&] {
                return sharedCluster().execute(
                    "engine_cache",
                    "DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_stat_activity WHERE "
                    "application_name = 'aurelo-service-listener' AND query LIKE 'LISTEN%') "
                    "THEN RAISE EXCEPTION 'not yet'; END IF; END $$");
            },
            10s);
    }

    aurelo::test::TestDirectory m_folder;
    DatabaseLocation m_location;
    std::unique_ptr<ServiceDatabase> m_instance, m_other;
    std::int64_t m_alice = 0;
};

TEST_P(EngineListCaching, ChangesFromAnywhereCountFromTheNextRead) {
    ASSERT_EQ(providers(*m_instance, m_alice), std::vector<std::string>{"google@http://one"});
    if (postgres()) {
        ASSERT_TRUE(listening());
    }
    ASSERT_EQ(providers(*m_instance, m_alice), std::vector<std::string>{"google@http://one"});

    ASSERT_TRUE(m_other->setProviderSettings({"google", "k", "http://two", "", ""}));
    EXPECT_TRUE(sees({"google@http://two"})) << "settings changed elsewhere";
    ASSERT_TRUE(m_other->enableEngine("alice", {"deepl", "DeepL", std::nullopt, "deepl"}));
    EXPECT_TRUE(sees({"google@http://two", "deepl@"})) << "an engine enabled elsewhere";
    ASSERT_TRUE(m_instance->disableEngine("alice", "google").value());
    EXPECT_EQ(providers(*m_instance, m_alice), std::vector<std::string>{"deepl@"})
        << "the store's own write";
}

TEST_P(EngineListCaching, ListsAreReadFromTheDatabaseWhileNoChangeCanBeHeard) {
    if (!postgres())
        GTEST_SKIP() << "SQLite hears every change through its data version";
    ASSERT_EQ(providers(*m_instance, m_alice), std::vector<std::string>{"google@http://one"});
    ASSERT_TRUE(listening());
    ASSERT_EQ(providers(*m_instance, m_alice), std::vector<std::string>{"google@http://one"});
    ASSERT_TRUE(sharedCluster().execute("engine_cache",
                                  "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                  "WHERE application_name = 'aurelo-service-listener'"));
    aurelo::test::runMainLoopFor(300ms); // the loss is noticed; reconnecting waits a second
    // Nobody hears this change's notification: only reading the database shows it.
    ASSERT_TRUE(sharedCluster().execute("engine_cache",
                                  "UPDATE provider_settings SET endpoint = 'http://three'"));
    EXPECT_EQ(providers(*m_instance, m_alice), std::vector<std::string>{"google@http://three"});
}

INSTANTIATE_TEST_SUITE_P(Stores, EngineListCaching, kBothStores, storeName);

} // namespace
} // namespace aurelo::service::test::engine_cache
