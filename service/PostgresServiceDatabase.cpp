// The shared store on PostgreSQL: its schema steps and one statement per operation.
#include "service/PostgresServiceDatabase.hpp"

#include "service/GlossaryQueries.hpp"

#include <glib.h>
#include <libpq-fe.h>
#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdint>
#include <iterator>

namespace aurelo::service {

namespace {

// Serialises the migrations of instances that start at the same time; the number is ours alone.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(7274101800)";

// Step N brings a database at version N-1 to version N, the same steps as the SQLite store's.
constexpr const char* kPostgresMigrations[] = {
    // 1: accounts, tokens, engines and provider settings.
    R"sql(
CREATE TABLE users (
  id BIGSERIAL PRIMARY KEY,
  username TEXT NOT NULL UNIQUE,
  password_hash TEXT NOT NULL,
  created_at BIGINT NOT NULL
);
CREATE TABLE tokens (
  token_hash TEXT PRIMARY KEY,
  user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  created_at BIGINT NOT NULL,
  expires_at BIGINT NOT NULL
);
CREATE INDEX tokens_by_user ON tokens(user_id);
CREATE INDEX tokens_by_expiry ON tokens(expires_at);
CREATE TABLE engines (
  user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  provider TEXT NOT NULL,
  label TEXT NOT NULL,
  model TEXT,
  backend TEXT NOT NULL,
  position BIGINT NOT NULL,
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
    // 2: request counts per key and window, shared by every instance's rate limits. Unlogged:
    // counting a request then costs no flush to disk, and the counts a crash of the database
    // server empties only forgive a minute of requests.
    R"sql(
CREATE UNLOGGED TABLE request_counts (
  key TEXT NOT NULL,
  time_window BIGINT NOT NULL,
  count BIGINT NOT NULL,
  PRIMARY KEY (key, time_window)
);
CREATE INDEX request_counts_by_window ON request_counts(time_window);
)sql",
    // 3: nothing here. The SQLite store stopped reusing account ids; a sequence never did.
    "SELECT 1;",
    // 4: every change of engines or provider settings, whoever makes it (an instance, the admin
    // command, an operator's own SQL), is notified when it commits, so that the instances can keep
    // engine lists in memory (PostgresChangeListener). Written to run again over itself, as a
    // database restored from an older dump may need.
    R"sql(
CREATE OR REPLACE FUNCTION aurelo_notify_change() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  PERFORM pg_notify('aurelo_changes', TG_TABLE_NAME);
  RETURN NULL;
END $$;
DROP TRIGGER IF EXISTS engines_changed ON engines;
DROP TRIGGER IF EXISTS provider_settings_changed ON provider_settings;
CREATE TRIGGER engines_changed AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON engines
  FOR EACH STATEMENT EXECUTE FUNCTION aurelo_notify_change();
CREATE TRIGGER provider_settings_changed AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE
  ON provider_settings FOR EACH STATEMENT EXECUTE FUNCTION aurelo_notify_change();
)sql",
    // 5: the operator's glossary (service-wide terms have no user). Written to
    // run again over itself, as a database set back to an older version needs.
    R"sql(
CREATE TABLE IF NOT EXISTS glossary_terms (
  id BIGSERIAL PRIMARY KEY,
  user_id BIGINT REFERENCES users(id) ON DELETE CASCADE,
  source TEXT NOT NULL,
  target TEXT NOT NULL DEFAULT '',
  source_language TEXT NOT NULL DEFAULT '',
  target_language TEXT NOT NULL DEFAULT '',
  ignore_case INTEGER NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX IF NOT EXISTS glossary_terms_unique
  ON glossary_terms((coalesce(user_id, 0)), source, source_language, target_language);
CREATE INDEX IF NOT EXISTS glossary_terms_by_user ON glossary_terms(user_id);
)sql",
    // 6: usage per account, engine and day; an optional monthly character quota per account; and
    // notifications of revoked tokens and changed accounts, so that instances may keep tokens in
    // memory; and a count of changes, moved on in the same transaction as each change notified,
    // which every request reads with its first statement: a notification arrives a moment after
    // the commit, the count is there at once, so a request sent after the commit never uses what
    // the change made stale. Written to run again over itself, as step 4. Deleting no token (the
    // minute's purge finding nothing expired) changes nothing.
    R"sql(
ALTER TABLE users ADD COLUMN IF NOT EXISTS monthly_quota BIGINT;
CREATE TABLE IF NOT EXISTS usage (
  user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  engine TEXT NOT NULL,
  day BIGINT NOT NULL,
  characters BIGINT NOT NULL,
  requests BIGINT NOT NULL,
  PRIMARY KEY (user_id, engine, day)
);
CREATE INDEX IF NOT EXISTS usage_by_day ON usage(day);
CREATE TABLE IF NOT EXISTS change_count (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  value BIGINT NOT NULL
);
INSERT INTO change_count VALUES (1, 0) ON CONFLICT DO NOTHING;
CREATE OR REPLACE FUNCTION aurelo_notify_change() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE change_count SET value = value + 1;
  PERFORM pg_notify('aurelo_changes', TG_TABLE_NAME);
  RETURN NULL;
END $$;
CREATE OR REPLACE FUNCTION aurelo_notify_rows_gone() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF EXISTS (SELECT 1 FROM gone) THEN
    UPDATE change_count SET value = value + 1;
    PERFORM pg_notify('aurelo_changes', TG_TABLE_NAME);
  END IF;
  RETURN NULL;
END $$;
DROP TRIGGER IF EXISTS tokens_removed ON tokens;
DROP TRIGGER IF EXISTS tokens_truncated ON tokens;
DROP TRIGGER IF EXISTS users_changed ON users;
CREATE TRIGGER tokens_removed AFTER DELETE ON tokens REFERENCING OLD TABLE AS gone
  FOR EACH STATEMENT EXECUTE FUNCTION aurelo_notify_rows_gone();
CREATE TRIGGER tokens_truncated AFTER TRUNCATE ON tokens
  FOR EACH STATEMENT EXECUTE FUNCTION aurelo_notify_change();
CREATE TRIGGER users_changed AFTER UPDATE OR DELETE OR TRUNCATE ON users
  FOR EACH STATEMENT EXECUTE FUNCTION aurelo_notify_change();
)sql",
};
static_assert(std::size(kPostgresMigrations) == ServiceDatabase::kSchemaVersion);

constexpr const char* kUniqueViolation = "23505";

std::string firstLine(const char* text) {
    std::string line = text ? text : "";
    if (auto end = line.find('\n'); end != std::string::npos)
        line.erase(end);
    return line;
}

std::string number(std::int64_t value) {
    return std::to_string(value);
}

// An engine from the first four columns of `row`: provider, label, model, backend.
EngineRecord engineAt(const PostgresServiceDatabase::Rows& rows, int row) {
    return {rows.text(row, 0), rows.text(row, 1),
            rows.isNull(row, 2) ? std::nullopt : std::optional<std::string>(rows.text(row, 2)),
            rows.text(row, 3)};
}

// Sends what PQsend* queued and collects the statement's result (the last one, which carries its
// error if any). Null on a broken connection, and with `timedOut` set when `deadline` passed first.
PGresult* awaitResult(PGconn* connection, std::optional<DatabaseDeadline::Clock::time_point> deadline,
                      bool& timedOut) {
    for (int flushed; (flushed = PQflush(connection)) != 0;) {
        if (flushed < 0)
            return nullptr;
        if (!PostgresConnectionPool::waitForSocket(connection, true, deadline)) {
            timedOut = true;
            return nullptr;
        }
        if (!PQconsumeInput(connection))
            return nullptr;
    }
    PGresult* last = nullptr;
    for (;;) {
        while (PQisBusy(connection)) {
            if (!PostgresConnectionPool::waitForSocket(connection, false, deadline)) {
                PQclear(last);
                timedOut = true;
                return nullptr;
            }
            if (!PQconsumeInput(connection))
                break; // PQgetResult reports the broken connection
        }
        PGresult* result = PQgetResult(connection);
        if (!result)
            return last;
        PQclear(last);
        last = result;
    }
}

} // namespace

PostgresServiceDatabase::Rows::~Rows() {
    PQclear(m_result);
}

int PostgresServiceDatabase::Rows::count() const {
    return PQntuples(m_result);
}

int PostgresServiceDatabase::Rows::affected() const {
    const char* text = PQcmdTuples(m_result);
    int value = 0;
    if (text && *text)
        std::from_chars(text, text + std::char_traits<char>::length(text), value);
    return value;
}

bool PostgresServiceDatabase::Rows::isNull(int row, int column) const {
    return PQgetisnull(m_result, row, column) != 0;
}

std::string PostgresServiceDatabase::Rows::text(int row, int column) const {
    return std::string(PQgetvalue(m_result, row, column),
                       static_cast<std::size_t>(PQgetlength(m_result, row, column)));
}

std::int64_t PostgresServiceDatabase::Rows::integer(int row, int column) const {
    const char* text = PQgetvalue(m_result, row, column);
    std::int64_t value = 0;
    std::from_chars(text, text + PQgetlength(m_result, row, column), value);
    return value;
}

DatabaseResult<std::unique_ptr<ServiceDatabase>>
PostgresServiceDatabase::open(const std::string& uri, const DatabasePoolOptions& pool) {
    // libpq's own account of a malformed address quotes it, password and all: name the address
    // masked instead.
    // A password libpq reads otherwise than it is written (an unescaped '/' or '@' in it) would
    // end up in libpq's messages as a host, a port or a user name: refused the same way.
    const DatabaseLocation location{DatabaseLocation::Kind::postgresql, uri};
    char* reason = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(uri.c_str(), &reason);
    PQfreemem(reason);
    bool sound = parsed != nullptr;
    if (auto written = location.writtenPassword(); sound && written) {
        std::string read;
        for (auto* option = parsed; option->keyword; ++option)
            if (std::string(option->keyword) == "password" && option->val)
                read = option->val;
        gchar* decoded = g_uri_unescape_string(written->c_str(), nullptr);
        sound = decoded && read == decoded;
        g_free(decoded);
    }
    PQconninfoFree(parsed);
    if (!sound)
        return std::unexpected(
            DatabaseError{"数据库地址无效（请检查百分号转义、IPv6 地址的方括号、端口，以及密码中的 "
                          "/、@ 等字符是否已转义）：" +
                          location.display()});
    std::unique_ptr<PostgresServiceDatabase> db(new PostgresServiceDatabase(uri, pool));
    if (auto migrated = db->migrate(); !migrated)
        return std::unexpected(migrated.error());
    return std::unique_ptr<ServiceDatabase>(std::move(db));
}

DatabaseResult<PostgresServiceDatabase::Rows>
PostgresServiceDatabase::query(const char* action, const char* sql,
                               std::initializer_list<Parameter> parameters, std::string* sqlState) {
    std::vector<const char*> values;
    values.reserve(parameters.size());
    for (const auto& parameter : parameters) {
        // Parameters travel as C strings: one with a NUL would arrive cut short and name
        // another row.
        if (parameter && parameter->find('\0') != std::string::npos)
            return std::unexpected(
                DatabaseError{std::string("数据库操作失败（") + action + "）：文本中含有空字符。"});
        values.push_back(parameter ? parameter->c_str() : nullptr);
    }
    for (int attempt = 0;; ++attempt) {
        auto lease = m_pool.acquire();
        if (!lease)
            return std::unexpected(lease.error());
        // Named after the address of its text, which is a constant of this file.
        const std::string name = "q" + std::to_string(reinterpret_cast<std::uintptr_t>(sql));
        // Sent without blocking and awaited only up to the deadline: a server that stopped
        // answering costs the request its deadline, not the time until the server wakes.
        const auto deadline = DatabaseDeadline::current();
        bool timedOut = false;
        auto execute = [&]() -> Rows {
            if (!lease->prepared().contains(sql)) {
                if (!PQsendPrepare(lease->get(), name.c_str(), sql,
                                   static_cast<int>(values.size()), nullptr))
                    return Rows(nullptr);
                Rows prepared(awaitResult(lease->get(), deadline, timedOut));
                if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK)
                    return prepared;
                lease->prepared().insert(sql);
            }
            if (!PQsendQueryPrepared(lease->get(), name.c_str(), static_cast<int>(values.size()),
                                     values.data(), nullptr, nullptr, 0))
                return Rows(nullptr);
            return Rows(awaitResult(lease->get(), deadline, timedOut));
        };
        Rows rows = execute();
        if (timedOut) {
            // The connection is mid-statement: closing it is the one way to be rid of it without
            // waiting (a cancel request waits for the server too). Its statement_timeout ends
            // the statement on the server's side.
            lease->discard();
            return std::unexpected(DatabaseDeadline::missed());
        }
        ExecStatusType status = PQresultStatus(rows.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return rows;
        if (PQstatus(lease->get()) != CONNECTION_OK) {
            lease->discard();
            // A kept connection breaks when the server restarts; the first statement after it
            // learns so. One fresh connection tells a restarted server from one that is down.
            if (attempt == 0)
                continue;
            return std::unexpected(
                DatabaseError{"数据库连接中断：" + m_pool.masked(firstLine(PQerrorMessage(lease->get()))),
                              true});
        }
        const char* field = PQresultErrorField(rows.get(), PG_DIAG_SQLSTATE);
        std::string state = field ? field : "";
        if (sqlState)
            *sqlState = state;
        // Connection trouble (08), a server short of resources (53), and a statement cancelled
        // by its time-out or by a shutdown (57): the database cannot serve now, the request
        // itself is sound, and the client may try again.
        bool unavailable =
            state.starts_with("08") || state.starts_with("53") || state.starts_with("57");
        return std::unexpected(DatabaseError{std::string("数据库操作失败（") + action + "）：" +
                                                 firstLine(PQresultErrorMessage(rows.get())),
                                             unavailable});
    }
}

DatabaseResult<void> PostgresServiceDatabase::migrate() {
    auto lease = m_pool.acquire();
    if (!lease)
        return std::unexpected(lease.error());
    PGconn* connection = lease->get();
    auto run = [&](const std::string& sql) -> DatabaseResult<Rows> {
        Rows rows(PQexec(connection, sql.c_str()));
        auto status = PQresultStatus(rows.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return rows;
        bool lost = PQstatus(connection) != CONNECTION_OK;
        return std::unexpected(DatabaseError{
            "无法更新数据库结构：" + firstLine(PQresultErrorMessage(rows.get())), lost});
    };
    auto fail = [&](DatabaseError error) -> DatabaseResult<void> {
        // The lease closes a connection left in a failed transaction.
        (void)run("ROLLBACK");
        return std::unexpected(std::move(error));
    };
    if (auto begun = run("BEGIN"); !begun)
        return std::unexpected(begun.error());
    // A migration of a large table may rightly take longer than a request's statement.
    if (auto unlimited = run("SET LOCAL statement_timeout = 0"); !unlimited)
        return fail(unlimited.error());
    if (auto locked = run(kMigrationLock); !locked)
        return fail(locked.error());
    auto tables = run("SELECT to_regclass('schema_version') IS NOT NULL, "
                      "to_regclass('users') IS NOT NULL");
    if (!tables)
        return fail(tables.error());
    std::int64_t current = 0;
    if (tables->text(0, 0) == "t") {
        auto version = run("SELECT coalesce(max(version), 0) FROM schema_version");
        if (!version)
            return fail(version.error());
        current = version->integer(0, 0);
    } else if (tables->text(0, 1) == "t") {
        return fail(DatabaseError{"该数据库中已有其他程序的数据表（users），拒绝修改。"});
    } else if (auto created = run("CREATE TABLE schema_version (version INTEGER NOT NULL);"
                                  "INSERT INTO schema_version VALUES (0)");
               !created) {
        return fail(created.error());
    }
    if (current > kSchemaVersion)
        return fail(DatabaseError{"数据库由更新版本的服务创建（版本 " + std::to_string(current) +
                                  "），无法使用。"});
    for (auto step = current + 1; step <= kSchemaVersion; ++step) {
        std::string script = std::string(kPostgresMigrations[step - 1]) +
                             "UPDATE schema_version SET version = " + std::to_string(step);
        if (auto applied = run(script); !applied) {
            auto error = applied.error();
            error.message = "无法更新数据库结构（版本 " + std::to_string(step) + "）：" +
                            error.message.substr(error.message.find("：") + 3);
            return fail(error);
        }
    }
    if (auto committed = run("COMMIT"); !committed)
        return std::unexpected(committed.error());
    return {};
}

DatabaseResult<std::int64_t> PostgresServiceDatabase::addUser(const std::string& username,
                                                              const std::string& passwordHash,
                                                              std::int64_t now) {
    std::string state;
    auto rows = query("添加用户",
                      "INSERT INTO users(username, password_hash, created_at) VALUES($1,$2,$3) "
                      "RETURNING id",
                      {username, passwordHash, number(now)}, &state);
    if (!rows && state == kUniqueViolation)
        return std::unexpected(DatabaseError{"用户 " + username + " 已存在。"});
    if (!rows)
        return std::unexpected(rows.error());
    return rows->integer(0, 0);
}

DatabaseResult<bool> PostgresServiceDatabase::removeUser(const std::string& username) {
    EngineListCache::ForgetAfter forgetAfter(m_engineCache);
    auto rows = query("删除用户", "DELETE FROM users WHERE username = $1", {username});
    if (!rows)
        return std::unexpected(rows.error());
    return rows->affected() > 0;
}

DatabaseResult<std::optional<UserRecord>>
PostgresServiceDatabase::findUser(const std::string& username) {
    auto rows = query("查询用户",
                      "SELECT id, username, password_hash, created_at FROM users "
                      "WHERE username = $1",
                      {username});
    if (!rows)
        return std::unexpected(rows.error());
    if (rows->count() == 0)
        return std::optional<UserRecord>();
    return std::optional<UserRecord>(
        UserRecord{rows->integer(0, 0), rows->text(0, 1), rows->text(0, 2), rows->integer(0, 3)});
}

DatabaseResult<std::vector<UserSummary>> PostgresServiceDatabase::listUsers(std::int64_t now) {
    auto rows =
        query("列出用户",
              "SELECT u.username, u.created_at, "
              "(SELECT count(*) FROM engines e WHERE e.user_id = u.id), "
              "(SELECT count(*) FROM tokens t WHERE t.user_id = u.id AND t.expires_at > $1) "
              "FROM users u ORDER BY u.username COLLATE \"C\"",
              {number(now)});
    if (!rows)
        return std::unexpected(rows.error());
    std::vector<UserSummary> users;
    for (int row = 0; row < rows->count(); ++row)
        users.push_back({rows->text(row, 0), rows->integer(row, 1),
                         static_cast<int>(rows->integer(row, 2)),
                         static_cast<int>(rows->integer(row, 3))});
    return users;
}

DatabaseResult<std::vector<std::int64_t>> PostgresServiceDatabase::accountIds() {
    auto rows = query("列出用户", "SELECT id FROM users");
    if (!rows)
        return std::unexpected(rows.error());
    std::vector<std::int64_t> ids;
    for (int row = 0; row < rows->count(); ++row)
        ids.push_back(rows->integer(row, 0));
    return ids;
}

DatabaseResult<bool> PostgresServiceDatabase::setPasswordHash(const std::string& username,
                                                              const std::string& hash) {
    // One statement is one transaction: no instance can accept an old token once the new
    // password is in place.
    auto rows = query("修改密码",
                      "WITH changed AS (UPDATE users SET password_hash = $1 WHERE username = $2 "
                      "RETURNING id), revoked AS (DELETE FROM tokens WHERE user_id IN "
                      "(SELECT id FROM changed)) SELECT count(*) FROM changed",
                      {hash, username});
    if (!rows)
        return std::unexpected(rows.error());
    return rows->integer(0, 0) > 0;
}

DatabaseResult<void> PostgresServiceDatabase::storeToken(std::int64_t userId,
                                                         const std::string& tokenHash,
                                                         std::int64_t createdAt,
                                                         std::int64_t expiresAt) {
    auto rows = query("保存令牌",
                      "INSERT INTO tokens(token_hash, user_id, created_at, expires_at) "
                      "VALUES($1,$2,$3,$4)",
                      {tokenHash, number(userId), number(createdAt), number(expiresAt)});
    if (!rows)
        return std::unexpected(rows.error());
    return {};
}

void PostgresServiceDatabase::startListening() {
    // The notification connection is made for the first request an instance serves (an admin
    // command serves none); until it listens, everything is read from the database.
    std::call_once(m_listenerStarted, [this] {
        m_listener = std::make_unique<PostgresChangeListener>(
            m_uri, m_reconnectPause,
            [this](bool listening) {
                m_engineCache.setTrusted(listening);
                m_tokenCache.setTrusted(listening);
            },
            [this] { forgetCached(); });
    });
}

void PostgresServiceDatabase::forgetCached() {
    m_engineCache.forget();
    m_tokenCache.forget();
}

bool PostgresServiceDatabase::noticeChangeCount(std::int64_t count) {
    // The caches are emptied before the new count is known as seen: a request that reads the
    // same count finds them emptied, not about to be.
    std::lock_guard lock(m_changeMutex);
    if (m_changeCount == count)
        return false;
    forgetCached();
    m_changeCount = count;
    return true;
}

DatabaseResult<std::optional<Account>>
PostgresServiceDatabase::accountForToken(const std::string& tokenHash, std::int64_t now) {
    startListening();
    std::uint64_t generation = 0;
    if (auto cached = m_tokenCache.find(tokenHash, generation); cached && cached->expiresAt > now) {
        auto count = query("校验令牌", "SELECT value FROM change_count");
        if (!count)
            return std::unexpected(count.error());
        // The copy was taken before the count was read: it stands only if nothing was
        // forgotten meanwhile, by this request or another that read the count first.
        if (count->count() > 0 && !noticeChangeCount(count->integer(0, 0)) &&
            m_tokenCache.unchangedSince(generation))
            return std::optional<Account>(cached->account);
        m_tokenCache.find(tokenHash, generation);
    }
    // One row whatever the token: the change count, and the account if the token names one.
    auto rows = query("校验令牌",
                      "SELECT c.value, a.id, a.username, a.expires_at FROM change_count c "
                      "LEFT JOIN (SELECT u.id, u.username, t.expires_at FROM tokens t "
                      "  JOIN users u ON u.id = t.user_id "
                      "  WHERE t.token_hash = $1 AND t.expires_at > $2) a ON true",
                      {tokenHash, number(now)});
    if (!rows)
        return std::unexpected(rows.error());
    if (rows->count() == 0)
        return std::optional<Account>();
    noticeChangeCount(rows->integer(0, 0));
    if (rows->isNull(0, 1))
        return std::optional<Account>();
    Account account{rows->integer(0, 1), rows->text(0, 2)};
    m_tokenCache.store(tokenHash, {account, rows->integer(0, 3)}, generation);
    return std::optional<Account>(account);
}

DatabaseResult<RequestAccount>
PostgresServiceDatabase::accountForRequest(const std::string& tokenHash, std::int64_t now,
                                           const std::string& countPrefix, std::int64_t window) {
    startListening();
    std::uint64_t generation = 0;
    if (auto cached = m_tokenCache.find(tokenHash, generation); cached && cached->expiresAt > now) {
        // The token is known: its count and the change count, in one round trip.
        auto rows = query("记录请求次数",
                          "WITH counted AS (INSERT INTO request_counts(key, time_window, count) "
                          "  VALUES($1, $2, 1) ON CONFLICT (key, time_window) DO UPDATE "
                          "  SET count = request_counts.count + 1 RETURNING count) "
                          "SELECT (SELECT count FROM counted), value FROM change_count",
                          {countPrefix + number(cached->account.id), number(window)});
        if (!rows)
            return std::unexpected(rows.error());
        if (rows->count() > 0 && !noticeChangeCount(rows->integer(0, 1)) &&
            m_tokenCache.unchangedSince(generation))
            return RequestAccount{cached->account, rows->integer(0, 0)};
        // Something changed since the token was cached: read it again (counted already).
        auto account = accountForToken(tokenHash, now);
        if (!account)
            return std::unexpected(account.error());
        return RequestAccount{*account, *account ? rows->integer(0, 0) : 0};
    }
    // A data-modifying WITH runs whether or not the outer SELECT reads it; it counts only when
    // the token names an account. One row whatever the token, with the change count.
    auto rows = query("校验令牌",
                      "WITH account AS (SELECT u.id, u.username, t.expires_at FROM tokens t "
                      "  JOIN users u ON u.id = t.user_id "
                      "  WHERE t.token_hash = $1 AND t.expires_at > $2), "
                      "counted AS (INSERT INTO request_counts(key, time_window, count) "
                      "  SELECT $3 || id::text, $4, 1 FROM account "
                      "  ON CONFLICT (key, time_window) DO UPDATE "
                      "  SET count = request_counts.count + 1 RETURNING count) "
                      "SELECT c.value, a.id, a.username, a.expires_at, (SELECT count FROM counted) "
                      "FROM change_count c LEFT JOIN account a ON true",
                      {tokenHash, number(now), countPrefix, number(window)});
    if (!rows)
        return std::unexpected(rows.error());
    if (rows->count() == 0)
        return RequestAccount{};
    noticeChangeCount(rows->integer(0, 0));
    if (rows->isNull(0, 1))
        return RequestAccount{};
    Account account{rows->integer(0, 1), rows->text(0, 2)};
    m_tokenCache.store(tokenHash, {account, rows->integer(0, 3)}, generation);
    return RequestAccount{account, rows->integer(0, 4)};
}

DatabaseResult<std::optional<int>>
PostgresServiceDatabase::revokeTokens(const std::string& username) {
    auto rows = query("吊销令牌",
                      "WITH account AS (SELECT id FROM users WHERE username = $1), "
                      "revoked AS (DELETE FROM tokens WHERE user_id IN (SELECT id FROM account) "
                      "RETURNING 1) "
                      "SELECT (SELECT count(*) FROM account), (SELECT count(*) FROM revoked)",
                      {username});
    if (!rows)
        return std::unexpected(rows.error());
    if (rows->integer(0, 0) == 0)
        return std::optional<int>();
    return std::optional<int>(static_cast<int>(rows->integer(0, 1)));
}

DatabaseResult<void> PostgresServiceDatabase::revokeToken(const std::string& tokenHash) {
    auto rows = query("吊销令牌", "DELETE FROM tokens WHERE token_hash = $1", {tokenHash});
    if (!rows)
        return std::unexpected(rows.error());
    return {};
}

DatabaseResult<void> PostgresServiceDatabase::purgeExpiredTokens(std::int64_t now) {
    auto rows = query("清理过期令牌", "DELETE FROM tokens WHERE expires_at <= $1", {number(now)});
    if (!rows)
        return std::unexpected(rows.error());
    return {};
}

DatabaseResult<bool> PostgresServiceDatabase::enableEngine(const std::string& username,
                                                           const EngineRecord& engine) {
    EngineListCache::ForgetAfter forgetAfter(m_engineCache);
    auto rows = query("启用引擎",
                      "INSERT INTO engines(user_id, provider, label, model, backend, position) "
                      "SELECT u.id, $2, $3, $4, $5, "
                      "  (SELECT coalesce(max(position), 0) + 1 FROM engines WHERE user_id = u.id) "
                      "FROM users u WHERE u.username = $1 "
                      "ON CONFLICT (user_id, provider) DO UPDATE SET label = EXCLUDED.label, "
                      "  model = EXCLUDED.model, backend = EXCLUDED.backend",
                      {username, engine.provider, engine.label, engine.model, engine.backend});
    if (!rows)
        return std::unexpected(rows.error());
    return rows->affected() > 0;
}

DatabaseResult<bool> PostgresServiceDatabase::disableEngine(const std::string& username,
                                                            const std::string& provider) {
    EngineListCache::ForgetAfter forgetAfter(m_engineCache);
    auto rows = query("停用引擎",
                      "DELETE FROM engines WHERE provider = $1 AND user_id = "
                      "(SELECT id FROM users WHERE username = $2)",
                      {provider, username});
    if (!rows)
        return std::unexpected(rows.error());
    return rows->affected() > 0;
}

DatabaseResult<std::vector<EngineRecord>> PostgresServiceDatabase::engines(std::int64_t userId) {
    auto rows = query("读取引擎",
                      "SELECT provider, label, model, backend FROM engines WHERE user_id = $1 "
                      "ORDER BY position, provider",
                      {number(userId)});
    if (!rows)
        return std::unexpected(rows.error());
    std::vector<EngineRecord> engines;
    for (int row = 0; row < rows->count(); ++row)
        engines.push_back(engineAt(*rows, row));
    return engines;
}

DatabaseResult<std::vector<EngineWithSettings>>
PostgresServiceDatabase::enginesWithSettings(std::int64_t userId) {
    startListening();
    std::uint64_t generation = 0;
    if (auto cached = m_engineCache.find(userId, generation))
        return *cached;
    auto rows = query("读取引擎",
                      "SELECT e.provider, e.label, e.model, e.backend, coalesce(p.api_key, ''), "
                      "coalesce(p.endpoint, ''), coalesce(p.region, ''), coalesce(p.model, '') "
                      "FROM engines e LEFT JOIN provider_settings p "
                      "  ON p.name = e.backend AND e.backend <> 'apertium' "
                      "WHERE e.user_id = $1 ORDER BY e.position, e.provider",
                      {number(userId)});
    if (!rows)
        return std::unexpected(rows.error());
    std::vector<EngineWithSettings> all;
    for (int row = 0; row < rows->count(); ++row) {
        EngineRecord engine = engineAt(*rows, row);
        ProviderSettings settings;
        if (engine.backend != "apertium")
            settings = {engine.backend, rows->text(row, 4), rows->text(row, 5), rows->text(row, 6),
                        rows->text(row, 7)};
        all.push_back({std::move(engine), std::move(settings)});
    }
    m_engineCache.store(userId, all, generation);
    return all;
}

DatabaseResult<ProviderSettings>
PostgresServiceDatabase::providerSettings(const std::string& name) {
    auto rows = query("读取服务商设置",
                      "SELECT name, api_key, endpoint, region, model FROM provider_settings "
                      "WHERE name = $1",
                      {name});
    if (!rows)
        return std::unexpected(rows.error());
    if (rows->count() == 0)
        return ProviderSettings{name, {}, {}, {}, {}};
    return ProviderSettings{rows->text(0, 0), rows->text(0, 1), rows->text(0, 2), rows->text(0, 3),
                            rows->text(0, 4)};
}

DatabaseResult<std::vector<ProviderSettings>> PostgresServiceDatabase::allProviderSettings() {
    auto rows = query("读取服务商设置",
                      "SELECT name, api_key, endpoint, region, model FROM provider_settings "
                      "ORDER BY name COLLATE \"C\"");
    if (!rows)
        return std::unexpected(rows.error());
    std::vector<ProviderSettings> all;
    for (int row = 0; row < rows->count(); ++row)
        all.push_back({rows->text(row, 0), rows->text(row, 1), rows->text(row, 2),
                       rows->text(row, 3), rows->text(row, 4)});
    return all;
}

DatabaseResult<void>
PostgresServiceDatabase::setProviderSettings(const ProviderSettings& settings) {
    EngineListCache::ForgetAfter forgetAfter(m_engineCache);
    auto rows =
        query("保存服务商设置",
              "INSERT INTO provider_settings(name, api_key, endpoint, region, model) "
              "VALUES($1,$2,$3,$4,$5) ON CONFLICT (name) DO UPDATE SET "
              "api_key = EXCLUDED.api_key, endpoint = EXCLUDED.endpoint, "
              "region = EXCLUDED.region, model = EXCLUDED.model",
              {settings.name, settings.apiKey, settings.endpoint, settings.region, settings.model});
    if (!rows)
        return std::unexpected(rows.error());
    return {};
}

DatabaseResult<std::int64_t> PostgresServiceDatabase::countRequest(const std::string& key,
                                                                   std::int64_t window) {
    auto rows = query("记录请求次数",
                      "INSERT INTO request_counts(key, time_window, count) VALUES($1, $2, 1) "
                      "ON CONFLICT (key, time_window) DO UPDATE "
                      "SET count = request_counts.count + 1 RETURNING count",
                      {key, number(window)});
    if (!rows)
        return std::unexpected(rows.error());
    return rows->integer(0, 0);
}

DatabaseResult<void> PostgresServiceDatabase::purgeRequestCounts(std::int64_t window) {
    auto rows = query("清理请求计数", "DELETE FROM request_counts WHERE time_window < $1",
                      {number(window)});
    if (!rows)
        return std::unexpected(rows.error());
    return {};
}

DatabaseResult<void> PostgresServiceDatabase::probe() {
    auto rows = query("检查数据库", "SELECT 1");
    if (!rows)
        return std::unexpected(rows.error());
    return {};
}

// Usage and quotas.

namespace {

// A PostgreSQL array literal of `values` (each quoted), for one parameter of an unnest().
std::string arrayLiteral(const std::vector<std::string>& values) {
    std::string text = "{";
    for (const auto& value : values) {
        if (text.size() > 1)
            text += ',';
        text += '"';
        for (char c : value) {
            if (c == '"' || c == '\\')
                text += '\\';
            text += c;
        }
        text += '"';
    }
    return text + "}";
}

} // namespace

DatabaseResult<void> PostgresServiceDatabase::addUsage(const std::vector<UsageDelta>& deltas) {
    if (deltas.empty())
        return {};
    // One statement for the whole batch. A removed account's delta is dropped here; one removed
    // between this check and the insert fails the statement, and the batch is tried again.
    std::vector<std::string> ids, engines, days, characters, requests;
    for (const auto& delta : deltas) {
        ids.push_back(number(delta.accountId));
        engines.push_back(delta.engine);
        days.push_back(number(delta.day));
        characters.push_back(number(delta.characters));
        requests.push_back(number(delta.requests));
    }
    auto rows = query("记录用量",
                      "INSERT INTO usage(user_id, engine, day, characters, requests) "
                      "SELECT d.u, d.e, d.d, d.c, d.r FROM unnest($1::bigint[], $2::text[], "
                      "  $3::bigint[], $4::bigint[], $5::bigint[]) AS d(u, e, d, c, r) "
                      "WHERE EXISTS (SELECT 1 FROM users WHERE id = d.u) "
                      "ON CONFLICT (user_id, engine, day) DO UPDATE SET "
                      "characters = usage.characters + EXCLUDED.characters, "
                      "requests = usage.requests + EXCLUDED.requests",
                      {arrayLiteral(ids), arrayLiteral(engines), arrayLiteral(days),
                       arrayLiteral(characters), arrayLiteral(requests)});
    if (!rows)
        return std::unexpected(rows.error());
    return {};
}

DatabaseResult<std::vector<UsageRow>> PostgresServiceDatabase::usage(const std::string& username,
                                                                      std::int64_t sinceDay) {
    auto rows = query("读取用量",
                      "SELECT u.username, g.engine, g.day, g.characters, g.requests "
                      "FROM usage g JOIN users u ON u.id = g.user_id "
                      "WHERE g.day >= $1 AND ($2 = '' OR u.username = $2) "
                      "ORDER BY g.day, u.username COLLATE \"C\", g.engine COLLATE \"C\"",
                      {number(sinceDay), username});
    if (!rows)
        return std::unexpected(rows.error());
    std::vector<UsageRow> all;
    for (int row = 0; row < rows->count(); ++row)
        all.push_back({rows->text(row, 0), rows->text(row, 1), rows->integer(row, 2),
                       rows->integer(row, 3), rows->integer(row, 4)});
    return all;
}

DatabaseResult<bool> PostgresServiceDatabase::setMonthlyQuota(const std::string& username,
                                                              std::optional<std::int64_t> characters) {
    auto rows = query("设置额度", "UPDATE users SET monthly_quota = $1 WHERE username = $2",
                      {characters ? Parameter(number(*characters)) : std::nullopt, username});
    if (!rows)
        return std::unexpected(rows.error());
    return rows->affected() > 0;
}

DatabaseResult<QuotaState> PostgresServiceDatabase::quotaState(std::int64_t accountId,
                                                               std::int64_t sinceDay) {
    auto rows = query("读取额度",
                      "SELECT u.monthly_quota, (SELECT coalesce(sum(characters), 0) FROM usage "
                      "WHERE user_id = u.id AND day >= $2) FROM users u WHERE u.id = $1",
                      {number(accountId), number(sinceDay)});
    if (!rows)
        return std::unexpected(rows.error());
    QuotaState state;
    if (rows->count() == 0)
        return state;
    if (!rows->isNull(0, 0))
        state.monthlyQuota = rows->integer(0, 0);
    state.used = rows->integer(0, 1);
    return state;
}

// The glossary.

namespace {

std::vector<GlossaryTerm> glossaryFrom(const PostgresServiceDatabase::Rows& rows) {
    std::vector<GlossaryTerm> terms;
    for (int row = 0; row < rows.count(); ++row)
        terms.push_back({rows.integer(row, 0),
                         rows.isNull(row, 1) ? std::nullopt
                                             : std::optional<std::string>(rows.text(row, 1)),
                         rows.text(row, 2), rows.text(row, 3), rows.text(row, 4),
                         rows.text(row, 5), rows.integer(row, 6) != 0});
    return terms;
}

} // namespace

DatabaseResult<std::vector<GlossaryTerm>> PostgresServiceDatabase::glossaryTerms() {
    auto rows = query("读取术语表", glossary_sql::kAllTerms);
    if (!rows)
        return std::unexpected(rows.error());
    return glossaryFrom(*rows);
}

DatabaseResult<std::vector<GlossaryTerm>>
PostgresServiceDatabase::effectiveGlossary(std::int64_t accountId) {
    auto rows = query("读取术语表", glossary_sql::kAccountTerms,
                      {number(accountId)});
    if (!rows)
        return std::unexpected(rows.error());
    return glossaryFrom(*rows);
}

DatabaseResult<void>
PostgresServiceDatabase::putGlossaryTerms(const std::vector<GlossaryTerm>& terms) {
    // One statement, so one transaction, whatever the number of terms.
    nlohmann::json rows = nlohmann::json::array();
    for (const auto& term : terms)
        rows.push_back({{"account", term.account ? nlohmann::json(*term.account) : nlohmann::json()},
                        {"source", term.source},
                        {"target", term.target},
                        {"source_language", term.sourceLanguage},
                        {"target_language", term.targetLanguage},
                        {"ignore_case", term.ignoreCase ? 1 : 0}});
    auto stored = query(
        "保存术语",
        "INSERT INTO glossary_terms(user_id, source, target, source_language, target_language, "
        "  ignore_case) "
        "SELECT u.id, r.source, r.target, r.source_language, r.target_language, r.ignore_case "
        "FROM json_to_recordset($1::json) AS r(account TEXT, source TEXT, target TEXT, "
        "  source_language TEXT, target_language TEXT, ignore_case INTEGER) "
        "LEFT JOIN users u ON u.username = r.account "
        "WHERE r.account IS NULL OR u.id IS NOT NULL "
        "ON CONFLICT ((coalesce(user_id, 0)), source, source_language, target_language) "
        "DO UPDATE SET target = EXCLUDED.target, ignore_case = EXCLUDED.ignore_case",
        {rows.dump()});
    if (!stored)
        return std::unexpected(stored.error());
    return {};
}

DatabaseResult<bool> PostgresServiceDatabase::removeGlossaryTerm(std::int64_t id) {
    auto rows = query("删除术语", "DELETE FROM glossary_terms WHERE id = $1", {number(id)});
    if (!rows)
        return std::unexpected(rows.error());
    return rows->affected() > 0;
}

} // namespace aurelo::service
