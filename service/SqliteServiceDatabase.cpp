#include "service/SqliteServiceDatabase.hpp"

#include "service/GlossaryQueries.hpp"

#include <sqlite3.h>
#include <sys/stat.h>

#include <iterator>
#include <utility>

namespace aurelo::service {

namespace {

// How long a statement waits for another connection's lock before it fails as busy.
constexpr int kBusyMilliseconds = 3000;

// The schema in steps: step N brings a database at version N-1 to version N. A file is only
// ever moved forward, step by step, each step in the transaction that also records its number.
constexpr const char* kSqliteMigrations[] = {
    // 1: accounts, tokens, engines and provider settings.
    R"sql(
CREATE TABLE users (
  id INTEGER PRIMARY KEY,
  username TEXT NOT NULL UNIQUE,
  password_hash TEXT NOT NULL,
  created_at INTEGER NOT NULL
);
CREATE TABLE tokens (
  token_hash TEXT PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  created_at INTEGER NOT NULL,
  expires_at INTEGER NOT NULL
);
CREATE INDEX tokens_by_user ON tokens(user_id);
CREATE TABLE engines (
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  provider TEXT NOT NULL,
  label TEXT NOT NULL,
  model TEXT,
  backend TEXT NOT NULL,
  position INTEGER NOT NULL,
  PRIMARY KEY (user_id, provider)
);
CREATE TABLE provider_settings (
  name TEXT PRIMARY KEY,
  api_key TEXT NOT NULL DEFAULT '',
  endpoint TEXT NOT NULL DEFAULT '',
  region TEXT NOT NULL DEFAULT '',
  model TEXT NOT NULL DEFAULT ''
);
)sql",
    // 2: request counts per key and window, for rate limits kept in the database.
    R"sql(
CREATE TABLE request_counts (
  key TEXT NOT NULL,
  time_window INTEGER NOT NULL,
  count INTEGER NOT NULL,
  PRIMARY KEY (key, time_window)
);
)sql",
    // 3: account ids are never used again. Without AUTOINCREMENT SQLite gives a new row the
    // highest id plus one, so removing the newest account handed its id, and with it everything
    // kept under that id (cached translations, rate-limit counts), to the next account made.
    // SQLite cannot add AUTOINCREMENT to a table: the table is made anew, ids kept, while foreign
    // keys are off (migrate() turns them off), so that dropping the old one removes no token or
    // engine; the renamed table is the one their references name.
    R"sql(
CREATE TABLE users_next (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  username TEXT NOT NULL UNIQUE,
  password_hash TEXT NOT NULL,
  created_at INTEGER NOT NULL
);
INSERT INTO users_next(id, username, password_hash, created_at)
  SELECT id, username, password_hash, created_at FROM users;
DROP TABLE users;
ALTER TABLE users_next RENAME TO users;
)sql",
    // 4: nothing here. The PostgreSQL store's instances learn of engine changes by notification;
    // the SQLite store by its data version.
    "SELECT 1;",
    // 5: the operator's glossary (service-wide terms have no user). Written to
    // run again over itself, as a database set back to an older version needs.
    R"sql(
CREATE TABLE IF NOT EXISTS glossary_terms (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  user_id INTEGER REFERENCES users(id) ON DELETE CASCADE,
  source TEXT NOT NULL,
  target TEXT NOT NULL DEFAULT '',
  source_language TEXT NOT NULL DEFAULT '',
  target_language TEXT NOT NULL DEFAULT '',
  ignore_case INTEGER NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX IF NOT EXISTS glossary_terms_unique
  ON glossary_terms(coalesce(user_id, 0), source, source_language, target_language);
CREATE INDEX IF NOT EXISTS glossary_terms_by_user ON glossary_terms(user_id);
)sql",
    // 6: usage per account, engine and day, and an optional monthly character quota per account.
    // A file taken back to an older version runs it again over its own tables (step 3 remakes
    // users without the column).
    R"sql(
ALTER TABLE users ADD COLUMN monthly_quota INTEGER;
CREATE TABLE IF NOT EXISTS usage (
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  engine TEXT NOT NULL,
  day INTEGER NOT NULL,
  characters INTEGER NOT NULL,
  requests INTEGER NOT NULL,
  PRIMARY KEY (user_id, engine, day)
);
CREATE INDEX IF NOT EXISTS usage_by_day ON usage(day);
)sql",
};
static_assert(std::size(kSqliteMigrations) == ServiceDatabase::kSchemaVersion);

// One prepared statement, finalised when it goes out of scope.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        m_ok = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) == SQLITE_OK;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(m_stmt); }

    bool ok() const { return m_ok; }
    Statement& bind(int index, const std::string& value) {
        m_ok =
            m_ok && sqlite3_bind_text(m_stmt, index, value.data(), static_cast<int>(value.size()),
                                      SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    Statement& bind(int index, std::int64_t value) {
        m_ok = m_ok && sqlite3_bind_int64(m_stmt, index, value) == SQLITE_OK;
        return *this;
    }
    Statement& bindNull(int index) {
        m_ok = m_ok && sqlite3_bind_null(m_stmt, index) == SQLITE_OK;
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return m_ok ? sqlite3_step(m_stmt) : SQLITE_ERROR; }

    // Columns are read defensively: a row edited by hand may hold NULL or another type where
    // text is expected; SQLite converts, and NULL reads as empty.
    std::string text(int column) const {
        const auto* value = sqlite3_column_text(m_stmt, column);
        return value ? std::string(reinterpret_cast<const char*>(value),
                                   static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
                     : std::string();
    }
    std::optional<std::string> optionalText(int column) const {
        if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
            return std::nullopt;
        return text(column);
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3_stmt* m_stmt = nullptr;
    bool m_ok = false;
};

} // namespace

DatabaseResult<std::unique_ptr<ServiceDatabase>>
SqliteServiceDatabase::open(const std::filesystem::path& file) {
    sqlite3* handle = nullptr;
    // The server's database worker and the main loop (at start, and in tests) both use the one
    // connection: SQLite serialises them.
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(file.c_str(), &handle, flags, nullptr) != SQLITE_OK) {
        std::string reason = handle ? sqlite3_errmsg(handle) : "out of memory";
        sqlite3_close_v2(handle);
        return std::unexpected(DatabaseError{"无法打开数据库 " + file.string() + "：" + reason});
    }
    std::unique_ptr<SqliteServiceDatabase> db(new SqliteServiceDatabase(handle));
    // The file holds provider keys: keep it private to the operator's account.
    ::chmod(file.c_str(), 0600);
    sqlite3_busy_timeout(handle, kBusyMilliseconds);
    sqlite3_extended_result_codes(handle, 1);
    if (auto migrated = db->migrate(); !migrated)
        return std::unexpected(migrated.error());
    return std::unique_ptr<ServiceDatabase>(std::move(db));
}

SqliteServiceDatabase::~SqliteServiceDatabase() {
    sqlite3_close_v2(m_db);
}

DatabaseError SqliteServiceDatabase::lastError(const char* action) const {
    return DatabaseError{std::string("数据库操作失败（") + action + "）：" + sqlite3_errmsg(m_db)};
}

DatabaseResult<void> SqliteServiceDatabase::migrate() {
    // Reading the version is the first real access: a file that is not a database fails here.
    std::int64_t current = 0;
    {
        Statement version(m_db, "PRAGMA user_version");
        if (version.step() != SQLITE_ROW)
            return std::unexpected(DatabaseError{
                std::string("数据库文件已损坏或不是本服务的数据库：") + sqlite3_errmsg(m_db)});
        current = version.integer(0);
    }
    if (current > kSchemaVersion)
        return std::unexpected(DatabaseError{"数据库由更新版本的服务创建（版本 " +
                                             std::to_string(current) + "），无法使用。"});
    // Switching a new file to the write-ahead log takes an exclusive lock without going through
    // the busy handler: instances starting together on a new database would fail here as
    // "locked". They retry for as long as the busy handler waits (the mode then stays set).
    int journal = SQLITE_OK;
    for (int attempt = 0; attempt < kBusyMilliseconds / 10; ++attempt) {
        journal = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if ((journal & 0xff) != SQLITE_BUSY)
            break;
        sqlite3_sleep(10);
    }
    // Foreign keys are off while the schema changes (a table made anew must not take its
    // dependants' rows with it when the old one is dropped) and on from then on.
    if (journal != SQLITE_OK ||
        sqlite3_exec(m_db, "PRAGMA foreign_keys=OFF", nullptr, nullptr, nullptr) != SQLITE_OK)
        return std::unexpected(lastError("设置"));
    for (auto step = current + 1; step <= kSchemaVersion; ++step) {
        // An admin command and a server starting together migrate one at a time: BEGIN
        // IMMEDIATE waits for the other's step, and the version is read again inside the
        // transaction, so a step the other already made is not made twice.
        auto failed = [&](const std::string& reason) -> DatabaseResult<void> {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            return std::unexpected(DatabaseError{"无法更新数据库结构（版本 " +
                                                 std::to_string(step) + "）：" + reason});
        };
        if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return failed(sqlite3_errmsg(m_db));
        std::int64_t found = -1;
        {
            Statement version(m_db, "PRAGMA user_version");
            if (version.step() == SQLITE_ROW)
                found = version.integer(0);
        }
        if (found < 0)
            return failed(sqlite3_errmsg(m_db));
        if (found >= step) {
            sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
            continue;
        }
        if (found == 0) {
            bool empty = false;
            {
                Statement existing(m_db, "SELECT count(*) FROM sqlite_master");
                empty = existing.step() == SQLITE_ROW && existing.integer(0) == 0;
            }
            if (!empty) {
                sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
                return std::unexpected(
                    DatabaseError{"该文件是其他程序的 SQLite 数据库，拒绝修改。"});
            }
        }
        char* message = nullptr;
        std::string script = std::string(kSqliteMigrations[step - 1]) +
                             "PRAGMA user_version = " + std::to_string(step) + ";COMMIT;";
        if (sqlite3_exec(m_db, script.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            std::string reason = message ? message : "";
            sqlite3_free(message);
            return failed(reason);
        }
    }
    if (sqlite3_exec(m_db, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr) != SQLITE_OK)
        return std::unexpected(lastError("设置"));
    Statement tables(m_db, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
                           "('users','tokens','engines','provider_settings','request_counts','usage')");
    if (tables.step() != SQLITE_ROW || tables.integer(0) != 6)
        return std::unexpected(DatabaseError{"数据库结构不完整，可能已被修改或损坏。"});
    return {};
}

DatabaseResult<std::int64_t> SqliteServiceDatabase::addUser(const std::string& username,
                                                            const std::string& passwordHash,
                                                            std::int64_t now) {
    Statement insert(m_db, "INSERT INTO users(username, password_hash, created_at) VALUES(?,?,?)");
    insert.bind(1, username).bind(2, passwordHash).bind(3, now);
    int rc = insert.step();
    if (rc == SQLITE_CONSTRAINT_UNIQUE)
        return std::unexpected(DatabaseError{"用户 " + username + " 已存在。"});
    if (rc != SQLITE_DONE)
        return std::unexpected(lastError("添加用户"));
    return sqlite3_last_insert_rowid(m_db);
}

DatabaseResult<std::vector<std::int64_t>> SqliteServiceDatabase::accountIds() {
    Statement select(m_db, "SELECT id FROM users");
    std::vector<std::int64_t> ids;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW)
        ids.push_back(select.integer(0));
    if (rc != SQLITE_DONE)
        return std::unexpected(lastError("列出用户"));
    return ids;
}

void SqliteServiceDatabase::noticeOtherWriters() {
    // A commit by another connection moves SQLite's data version on.
    Statement version(m_db, "PRAGMA data_version");
    std::int64_t current = version.step() == SQLITE_ROW ? version.integer(0) : -1;
    if (m_dataVersion.exchange(current) != current || current < 0) {
        m_engineCache.forget();
        m_tokenCache.forget();
    }
}

DatabaseResult<std::vector<EngineWithSettings>>
SqliteServiceDatabase::enginesWithSettings(std::int64_t userId) {
    noticeOtherWriters();
    std::uint64_t generation = 0;
    if (auto cached = m_engineCache.find(userId, generation))
        return *cached;
    auto engines = ServiceDatabase::enginesWithSettings(userId);
    if (engines)
        m_engineCache.store(userId, *engines, generation);
    return engines;
}

DatabaseResult<bool> SqliteServiceDatabase::removeUser(const std::string& username) {
    TokenCache::ForgetAfter forgetTokens(m_tokenCache);
    EngineListCache::ForgetAfter forgetAfter(m_engineCache);
    Statement remove(m_db, "DELETE FROM users WHERE username = ?");
    if (remove.bind(1, username).step() != SQLITE_DONE)
        return std::unexpected(lastError("删除用户"));
    return sqlite3_changes(m_db) > 0;
}

DatabaseResult<std::optional<UserRecord>>
SqliteServiceDatabase::findUser(const std::string& username) {
    Statement find(m_db,
                   "SELECT id, username, password_hash, created_at FROM users WHERE username = ?");
    int rc = find.bind(1, username).step();
    if (rc == SQLITE_DONE)
        return std::optional<UserRecord>();
    if (rc != SQLITE_ROW)
        return std::unexpected(lastError("查询用户"));
    return std::optional<UserRecord>(
        UserRecord{find.integer(0), find.text(1), find.text(2), find.integer(3)});
}

DatabaseResult<std::vector<UserSummary>> SqliteServiceDatabase::listUsers(std::int64_t now) {
    Statement list(m_db,
                   "SELECT u.username, u.created_at, "
                   "(SELECT count(*) FROM engines e WHERE e.user_id = u.id), "
                   "(SELECT count(*) FROM tokens t WHERE t.user_id = u.id AND t.expires_at > ?) "
                   "FROM users u ORDER BY u.username");
    list.bind(1, now);
    std::vector<UserSummary> users;
    int rc;
    while ((rc = list.step()) == SQLITE_ROW)
        users.push_back({list.text(0), list.integer(1), static_cast<int>(list.integer(2)),
                         static_cast<int>(list.integer(3))});
    if (rc != SQLITE_DONE)
        return std::unexpected(lastError("列出用户"));
    return users;
}

DatabaseResult<bool> SqliteServiceDatabase::setPasswordHash(const std::string& username,
                                                            const std::string& hash) {
    TokenCache::ForgetAfter forgetTokens(m_tokenCache);
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return std::unexpected(lastError("修改密码"));
    Statement update(m_db, "UPDATE users SET password_hash = ? WHERE username = ?");
    bool ok = update.bind(1, hash).bind(2, username).step() == SQLITE_DONE;
    bool found = ok && sqlite3_changes(m_db) > 0;
    if (ok && found) {
        Statement revoke(
            m_db, "DELETE FROM tokens WHERE user_id = (SELECT id FROM users WHERE username = ?)");
        ok = revoke.bind(1, username).step() == SQLITE_DONE;
    }
    if (!ok) {
        auto error = lastError("修改密码");
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return std::unexpected(error);
    }
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        auto error = lastError("修改密码");
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return std::unexpected(error);
    }
    return found;
}

DatabaseResult<void> SqliteServiceDatabase::storeToken(std::int64_t userId,
                                                       const std::string& tokenHash,
                                                       std::int64_t createdAt,
                                                       std::int64_t expiresAt) {
    Statement insert(
        m_db, "INSERT INTO tokens(token_hash, user_id, created_at, expires_at) VALUES(?,?,?,?)");
    if (insert.bind(1, tokenHash).bind(2, userId).bind(3, createdAt).bind(4, expiresAt).step() !=
        SQLITE_DONE)
        return std::unexpected(lastError("保存令牌"));
    return {};
}

DatabaseResult<std::optional<Account>>
SqliteServiceDatabase::accountForToken(const std::string& tokenHash, std::int64_t now) {
    noticeOtherWriters();
    std::uint64_t generation = 0;
    if (auto cached = m_tokenCache.find(tokenHash, generation); cached && cached->expiresAt > now)
        return std::optional<Account>(cached->account);
    Statement find(m_db, "SELECT u.id, u.username, t.expires_at FROM tokens t "
                         "JOIN users u ON u.id = t.user_id "
                         "WHERE t.token_hash = ? AND t.expires_at > ?");
    int rc = find.bind(1, tokenHash).bind(2, now).step();
    if (rc == SQLITE_DONE)
        return std::optional<Account>();
    if (rc != SQLITE_ROW)
        return std::unexpected(lastError("校验令牌"));
    Account account{find.integer(0), find.text(1)};
    m_tokenCache.store(tokenHash, {account, find.integer(2)}, generation);
    return std::optional<Account>(account);
}

DatabaseResult<std::optional<int>>
SqliteServiceDatabase::revokeTokens(const std::string& username) {
    TokenCache::ForgetAfter forgetTokens(m_tokenCache);
    auto user = findUser(username);
    if (!user)
        return std::unexpected(user.error());
    if (!*user)
        return std::optional<int>();
    Statement revoke(m_db, "DELETE FROM tokens WHERE user_id = ?");
    if (revoke.bind(1, (*user)->id).step() != SQLITE_DONE)
        return std::unexpected(lastError("吊销令牌"));
    return std::optional<int>(sqlite3_changes(m_db));
}

DatabaseResult<void> SqliteServiceDatabase::revokeToken(const std::string& tokenHash) {
    TokenCache::ForgetAfter forgetTokens(m_tokenCache);
    Statement revoke(m_db, "DELETE FROM tokens WHERE token_hash = ?");
    if (revoke.bind(1, tokenHash).step() != SQLITE_DONE)
        return std::unexpected(lastError("吊销令牌"));
    return {};
}

DatabaseResult<void> SqliteServiceDatabase::purgeExpiredTokens(std::int64_t now) {
    Statement purge(m_db, "DELETE FROM tokens WHERE expires_at <= ?");
    if (purge.bind(1, now).step() != SQLITE_DONE)
        return std::unexpected(lastError("清理过期令牌"));
    // A token purged must not live on in the cache (with a clock set back, it would be valid).
    if (sqlite3_changes(m_db) > 0)
        m_tokenCache.forget();
    return {};
}

DatabaseResult<bool> SqliteServiceDatabase::enableEngine(const std::string& username,
                                                         const EngineRecord& engine) {
    EngineListCache::ForgetAfter forgetAfter(m_engineCache);
    auto user = findUser(username);
    if (!user)
        return std::unexpected(user.error());
    if (!*user)
        return false;
    Statement upsert(m_db,
                     "INSERT INTO engines(user_id, provider, label, model, backend, position) "
                     "VALUES(?1, ?2, ?3, ?4, ?5, "
                     "  (SELECT coalesce(max(position), 0) + 1 FROM engines WHERE user_id = ?1)) "
                     "ON CONFLICT(user_id, provider) DO UPDATE SET label = excluded.label, "
                     "  model = excluded.model, backend = excluded.backend");
    upsert.bind(1, (*user)->id)
        .bind(2, engine.provider)
        .bind(3, engine.label)
        .bind(5, engine.backend);
    if (engine.model)
        upsert.bind(4, *engine.model);
    else
        upsert.bindNull(4);
    if (upsert.step() != SQLITE_DONE)
        return std::unexpected(lastError("启用引擎"));
    return true;
}

DatabaseResult<bool> SqliteServiceDatabase::disableEngine(const std::string& username,
                                                          const std::string& provider) {
    EngineListCache::ForgetAfter forgetAfter(m_engineCache);
    Statement remove(m_db, "DELETE FROM engines WHERE provider = ? AND user_id = "
                           "(SELECT id FROM users WHERE username = ?)");
    if (remove.bind(1, provider).bind(2, username).step() != SQLITE_DONE)
        return std::unexpected(lastError("停用引擎"));
    return sqlite3_changes(m_db) > 0;
}

DatabaseResult<std::vector<EngineRecord>> SqliteServiceDatabase::engines(std::int64_t userId) {
    Statement list(m_db, "SELECT provider, label, model, backend FROM engines WHERE user_id = ? "
                         "ORDER BY position, rowid");
    list.bind(1, userId);
    std::vector<EngineRecord> engines;
    int rc;
    while ((rc = list.step()) == SQLITE_ROW)
        engines.push_back({list.text(0), list.text(1), list.optionalText(2), list.text(3)});
    if (rc != SQLITE_DONE)
        return std::unexpected(lastError("读取引擎"));
    return engines;
}

DatabaseResult<ProviderSettings> SqliteServiceDatabase::providerSettings(const std::string& name) {
    Statement find(
        m_db,
        "SELECT name, api_key, endpoint, region, model FROM provider_settings WHERE name = ?");
    int rc = find.bind(1, name).step();
    if (rc == SQLITE_DONE)
        return ProviderSettings{name, {}, {}, {}, {}};
    if (rc != SQLITE_ROW)
        return std::unexpected(lastError("读取服务商设置"));
    return ProviderSettings{find.text(0), find.text(1), find.text(2), find.text(3), find.text(4)};
}

DatabaseResult<std::vector<ProviderSettings>> SqliteServiceDatabase::allProviderSettings() {
    Statement list(
        m_db, "SELECT name, api_key, endpoint, region, model FROM provider_settings ORDER BY name");
    std::vector<ProviderSettings> all;
    int rc;
    while ((rc = list.step()) == SQLITE_ROW)
        all.push_back({list.text(0), list.text(1), list.text(2), list.text(3), list.text(4)});
    if (rc != SQLITE_DONE)
        return std::unexpected(lastError("读取服务商设置"));
    return all;
}

DatabaseResult<void> SqliteServiceDatabase::setProviderSettings(const ProviderSettings& settings) {
    EngineListCache::ForgetAfter forgetAfter(m_engineCache);
    Statement upsert(
        m_db, "INSERT INTO provider_settings(name, api_key, endpoint, region, model) "
              "VALUES(?,?,?,?,?) ON CONFLICT(name) DO UPDATE SET api_key = excluded.api_key, "
              "endpoint = excluded.endpoint, region = excluded.region, model = excluded.model");
    upsert.bind(1, settings.name)
        .bind(2, settings.apiKey)
        .bind(3, settings.endpoint)
        .bind(4, settings.region)
        .bind(5, settings.model);
    if (upsert.step() != SQLITE_DONE)
        return std::unexpected(lastError("保存服务商设置"));
    return {};
}

DatabaseResult<std::int64_t> SqliteServiceDatabase::countRequest(const std::string& key,
                                                                 std::int64_t window) {
    Statement count(m_db, "INSERT INTO request_counts(key, time_window, count) VALUES(?, ?, 1) "
                          "ON CONFLICT(key, time_window) DO UPDATE SET count = count + 1 "
                          "RETURNING count");
    if (count.bind(1, key).bind(2, window).step() != SQLITE_ROW)
        return std::unexpected(lastError("记录请求次数"));
    return count.integer(0);
}

DatabaseResult<void> SqliteServiceDatabase::purgeRequestCounts(std::int64_t window) {
    Statement purge(m_db, "DELETE FROM request_counts WHERE time_window < ?");
    if (purge.bind(1, window).step() != SQLITE_DONE)
        return std::unexpected(lastError("清理请求计数"));
    return {};
}

DatabaseResult<void> SqliteServiceDatabase::probe() {
    Statement probe(m_db, "SELECT count(*) FROM users");
    if (probe.step() != SQLITE_ROW)
        return std::unexpected(DatabaseError{lastError("检查数据库").message, true});
    return {};
}

// Usage and quotas.

DatabaseResult<void> SqliteServiceDatabase::addUsage(const std::vector<UsageDelta>& deltas) {
    if (deltas.empty())
        return {};
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return std::unexpected(lastError("记录用量"));
    bool ok = true;
    for (const auto& delta : deltas) {
        Statement add(m_db, "INSERT INTO usage(user_id, engine, day, characters, requests) "
                            "SELECT ?1, ?2, ?3, ?4, ?5 WHERE EXISTS (SELECT 1 FROM users WHERE id = ?1) "
                            "ON CONFLICT(user_id, engine, day) DO UPDATE SET "
                            "characters = characters + excluded.characters, "
                            "requests = requests + excluded.requests");
        add.bind(1, delta.accountId)
            .bind(2, delta.engine)
            .bind(3, delta.day)
            .bind(4, delta.characters)
            .bind(5, delta.requests);
        if (add.step() != SQLITE_DONE) {
            ok = false;
            break;
        }
    }
    if (!ok || sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        auto error = lastError("记录用量");
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return std::unexpected(error);
    }
    return {};
}

DatabaseResult<std::vector<UsageRow>> SqliteServiceDatabase::usage(const std::string& username,
                                                                    std::int64_t sinceDay) {
    Statement list(m_db, "SELECT u.username, g.engine, g.day, g.characters, g.requests "
                         "FROM usage g JOIN users u ON u.id = g.user_id "
                         "WHERE g.day >= ?1 AND (?2 = '' OR u.username = ?2) "
                         "ORDER BY g.day, u.username, g.engine");
    list.bind(1, sinceDay).bind(2, username);
    std::vector<UsageRow> rows;
    int rc;
    while ((rc = list.step()) == SQLITE_ROW)
        rows.push_back({list.text(0), list.text(1), list.integer(2), list.integer(3),
                        list.integer(4)});
    if (rc != SQLITE_DONE)
        return std::unexpected(lastError("读取用量"));
    return rows;
}

DatabaseResult<bool> SqliteServiceDatabase::setMonthlyQuota(const std::string& username,
                                                            std::optional<std::int64_t> characters) {
    Statement update(m_db, "UPDATE users SET monthly_quota = ? WHERE username = ?");
    if (characters)
        update.bind(1, *characters);
    else
        update.bindNull(1);
    if (update.bind(2, username).step() != SQLITE_DONE)
        return std::unexpected(lastError("设置额度"));
    return sqlite3_changes(m_db) > 0;
}

DatabaseResult<QuotaState> SqliteServiceDatabase::quotaState(std::int64_t accountId,
                                                             std::int64_t sinceDay) {
    Statement find(m_db, "SELECT u.monthly_quota, (SELECT coalesce(sum(characters), 0) FROM usage "
                         "WHERE user_id = u.id AND day >= ?2) FROM users u WHERE u.id = ?1");
    int rc = find.bind(1, accountId).bind(2, sinceDay).step();
    if (rc == SQLITE_DONE)
        return QuotaState{};
    if (rc != SQLITE_ROW)
        return std::unexpected(lastError("读取额度"));
    QuotaState state;
    if (find.optionalText(0))
        state.monthlyQuota = find.integer(0);
    state.used = find.integer(1);
    return state;
}

// The glossary.

static DatabaseResult<std::vector<GlossaryTerm>> readGlossary(Statement& list, sqlite3* db) {
    std::vector<GlossaryTerm> terms;
    int rc;
    while ((rc = list.step()) == SQLITE_ROW)
        terms.push_back({list.integer(0), list.optionalText(1), list.text(2), list.text(3),
                         list.text(4), list.text(5), list.integer(6) != 0});
    if (rc != SQLITE_DONE)
        return std::unexpected(DatabaseError{std::string("读取术语表失败：") + sqlite3_errmsg(db)});
    return terms;
}

DatabaseResult<std::vector<GlossaryTerm>> SqliteServiceDatabase::glossaryTerms() {
    Statement list(m_db, glossary_sql::kAllTerms);
    return readGlossary(list, m_db);
}

DatabaseResult<std::vector<GlossaryTerm>>
SqliteServiceDatabase::effectiveGlossary(std::int64_t accountId) {
    Statement list(m_db, glossary_sql::kAccountTerms);
    list.bind(1, accountId);
    return readGlossary(list, m_db);
}

DatabaseResult<void> SqliteServiceDatabase::putGlossaryTerms(const std::vector<GlossaryTerm>& terms) {
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return std::unexpected(lastError("保存术语"));
    bool ok = true;
    for (const auto& term : terms) {
        // A stored term is updated in place, keeping its number; SQLite's upsert cannot name
        // the expression index that makes terms unique.
        Statement update(m_db, "UPDATE glossary_terms SET target = ?5, ignore_case = ?6 "
                               "WHERE coalesce(user_id, 0) = "
                               "coalesce((SELECT id FROM users WHERE username = ?1), 0) "
                               "AND (?1 IS NULL) = (user_id IS NULL) AND source = ?2 AND source_language = ?3 AND target_language = ?4");
        Statement insert(m_db,
                         "INSERT INTO glossary_terms(user_id, source, target, source_language, "
                         "target_language, ignore_case) "
                         "SELECT (SELECT id FROM users WHERE username = ?1), ?2, ?5, ?3, ?4, ?6 "
                         "WHERE ?1 IS NULL OR EXISTS (SELECT 1 FROM users WHERE username = ?1)");
        for (Statement* statement : {&update, &insert}) {
            if (term.account)
                statement->bind(1, *term.account);
            else
                statement->bindNull(1);
            statement->bind(2, term.source)
                .bind(3, term.sourceLanguage)
                .bind(4, term.targetLanguage)
                .bind(5, term.target)
                .bind(6, std::int64_t{term.ignoreCase});
        }
        if (update.step() != SQLITE_DONE ||
            (sqlite3_changes(m_db) == 0 && insert.step() != SQLITE_DONE)) {
            ok = false;
            break;
        }
    }
    if (!ok || sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        auto error = lastError("保存术语");
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return std::unexpected(error);
    }
    return {};
}

DatabaseResult<bool> SqliteServiceDatabase::removeGlossaryTerm(std::int64_t id) {
    Statement remove(m_db, "DELETE FROM glossary_terms WHERE id = ?");
    if (remove.bind(1, id).step() != SQLITE_DONE)
        return std::unexpected(lastError("删除术语"));
    return sqlite3_changes(m_db) > 0;
}

} // namespace aurelo::service
