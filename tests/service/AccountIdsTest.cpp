// Account ids are never given to a second account: what the service keeps under an id (cached
// translations, request counts) must never reach the account made after one was removed. After an
// upgrade of an existing SQLite file, and at the server (both stores:
// ServiceStoreContractTest.cpp).

#include "ServiceHarness.hpp"

#include "service/ServiceDatabase.hpp"
#include "support/TestDirectory.hpp"

#include <gtest/gtest.h>

#include <sqlite3.h>

namespace aurelo::service::test {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;

TEST(AccountIds, AnExistingSqliteFileIsUpgradedWithItsTokensAndEngines) {
    aurelo::test::TestDirectory folder;
    auto file = folder.path() / "old.sqlite3";
    {
        // The file as the previous release left it: schema version 2, ids without AUTOINCREMENT.
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &handle), SQLITE_OK);
        const char* old = R"sql(
CREATE TABLE users (id INTEGER PRIMARY KEY, username TEXT NOT NULL UNIQUE,
  password_hash TEXT NOT NULL, created_at INTEGER NOT NULL);
CREATE TABLE tokens (token_hash TEXT PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  created_at INTEGER NOT NULL, expires_at INTEGER NOT NULL);
CREATE INDEX tokens_by_user ON tokens(user_id);
CREATE TABLE engines (user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  provider TEXT NOT NULL, label TEXT NOT NULL, model TEXT, backend TEXT NOT NULL,
  position INTEGER NOT NULL, PRIMARY KEY (user_id, provider));
CREATE TABLE provider_settings (name TEXT PRIMARY KEY, api_key TEXT NOT NULL DEFAULT '',
  endpoint TEXT NOT NULL DEFAULT '', region TEXT NOT NULL DEFAULT '',
  model TEXT NOT NULL DEFAULT '');
CREATE TABLE request_counts (key TEXT NOT NULL, time_window INTEGER NOT NULL,
  count INTEGER NOT NULL, PRIMARY KEY (key, time_window));
INSERT INTO users VALUES (1, 'alice', 'h', 0), (2, 'bob', 'h', 0);
INSERT INTO tokens VALUES ('ta', 1, 0, 9999999999), ('tb', 2, 0, 9999999999);
INSERT INTO engines VALUES (1, 'google', 'Google', NULL, 'google', 1);
PRAGMA user_version = 2;
)sql";
        EXPECT_EQ(sqlite3_exec(handle, old, nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(handle);
        sqlite3_close(handle);
    }
    auto store = ServiceDatabase::open(file);
    ASSERT_TRUE(store) << store.error().message;
    auto& db = **store;
    EXPECT_EQ(db.accountForToken("ta", kNow).value()->username, "alice");
    EXPECT_EQ(db.engines(1).value().size(), 1u) << "the upgrade keeps every dependent row";
    ASSERT_TRUE(db.removeUser("bob").value());
    EXPECT_FALSE(db.accountForToken("tb", kNow).value()) << "removal still takes the tokens";
    EXPECT_EQ(db.addUser("carol", "h", kNow).value(), 3);
}

TEST(AccountIds, ANewAccountIsNotServedTheRemovedOnesCachedTranslations) {
    ServiceHarness harness;
    int sent = 0;
    FakeUpstream google([&](const UpstreamRequest& request) {
        ++sent;
        return googleTranslations(request, std::chrono::milliseconds(0));
    });
    auto hello = [&](const std::string& token) {
        return harness.translate(token, "hello", "zh-CN");
    };
    ASSERT_EQ(hello(harness.userWithEngine("alice", "google", google)).status, 200u);
    ASSERT_TRUE(harness.database().removeUser("alice").value());
    ASSERT_EQ(hello(harness.userWithEngine("carol", "google", google)).status, 200u);
    EXPECT_EQ(sent, 2) << "carol's first translation is asked of the provider";
}

} // namespace
} // namespace aurelo::service::test
