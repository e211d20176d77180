#pragma once

// The shared store: a PostgreSQL database that several instances of the service use at once.
// Every request reads the current rows, so a token issued, revoked or invalidated by a password
// change on one instance, and an engine enabled with the admin command, count on every instance
// from the next request on. Rate-limit counts are atomic upserts, so instances share them too.

#include "service/EngineListCache.hpp"
#include "service/PostgresChangeListener.hpp"
#include "service/PostgresConnectionPool.hpp"
#include "service/ServiceDatabase.hpp"

#include <initializer_list>
#include <memory>
#include <mutex>

typedef struct pg_result PGresult;

namespace aurelo::service {

class PostgresServiceDatabase final : public ServiceDatabase {
public:
    static DatabaseResult<std::unique_ptr<ServiceDatabase>> open(const std::string& uri,
                                                                 const DatabasePoolOptions& pool);

    const char* backendName() const override { return "postgresql"; }
    bool sharedAcrossInstances() const override { return true; }
    unsigned concurrency() const override { return m_pool.capacity(); }

    DatabaseResult<std::int64_t> addUser(const std::string& username,
                                         const std::string& passwordHash,
                                         std::int64_t now) override;
    DatabaseResult<bool> removeUser(const std::string& username) override;
    DatabaseResult<std::optional<UserRecord>> findUser(const std::string& username) override;
    DatabaseResult<std::vector<UserSummary>> listUsers(std::int64_t now) override;
    DatabaseResult<std::vector<std::int64_t>> accountIds() override;
    DatabaseResult<bool> setPasswordHash(const std::string& username,
                                         const std::string& hash) override;
    DatabaseResult<void> storeToken(std::int64_t userId, const std::string& tokenHash,
                                    std::int64_t createdAt, std::int64_t expiresAt) override;
    // Cached while the instance hears of every change, checked against the change count that
    // the request's first statement reads; see TokenCache.
    DatabaseResult<std::optional<Account>> accountForToken(const std::string& tokenHash,
                                                           std::int64_t now) override;
    DatabaseResult<RequestAccount> accountForRequest(const std::string& tokenHash,
                                                     std::int64_t now,
                                                     const std::string& countPrefix,
                                                     std::int64_t window) override;
    DatabaseResult<std::optional<int>> revokeTokens(const std::string& username) override;
    DatabaseResult<void> revokeToken(const std::string& tokenHash) override;
    DatabaseResult<void> purgeExpiredTokens(std::int64_t now) override;
    DatabaseResult<bool> enableEngine(const std::string& username,
                                      const EngineRecord& engine) override;
    DatabaseResult<bool> disableEngine(const std::string& username,
                                       const std::string& provider) override;
    DatabaseResult<std::vector<EngineRecord>> engines(std::int64_t userId) override;
    // Cached while the instance hears of every change; see EngineListCache.
    DatabaseResult<std::vector<EngineWithSettings>> enginesWithSettings(std::int64_t userId) override;
    DatabaseResult<ProviderSettings> providerSettings(const std::string& name) override;
    DatabaseResult<std::vector<ProviderSettings>> allProviderSettings() override;
    DatabaseResult<void> setProviderSettings(const ProviderSettings& settings) override;
    DatabaseResult<std::int64_t> countRequest(const std::string& key, std::int64_t window) override;
    DatabaseResult<void> purgeRequestCounts(std::int64_t window) override;
    DatabaseResult<void> probe() override;

    // The operator's glossary: service-wide terms (no account) and each account's own, which add
    // to them.
    DatabaseResult<std::vector<GlossaryTerm>> glossaryTerms() override;
    DatabaseResult<std::vector<GlossaryTerm>> effectiveGlossary(std::int64_t accountId) override;
    DatabaseResult<void> putGlossaryTerms(const std::vector<GlossaryTerm>& terms) override;
    DatabaseResult<bool> removeGlossaryTerm(std::int64_t id) override;
    DatabaseResult<void> addUsage(const std::vector<UsageDelta>& deltas) override;
    DatabaseResult<std::vector<UsageRow>> usage(const std::string& username,
                                                std::int64_t sinceDay) override;
    DatabaseResult<bool> setMonthlyQuota(const std::string& username,
                                         std::optional<std::int64_t> characters) override;
    DatabaseResult<QuotaState> quotaState(std::int64_t accountId, std::int64_t sinceDay) override;

    // One query's rows, cleared when it goes out of scope.
    class Rows {
    public:
        explicit Rows(PGresult* result) : m_result(result) {}
        Rows(Rows&& other) noexcept : m_result(std::exchange(other.m_result, nullptr)) {}
        Rows(const Rows&) = delete;
        Rows& operator=(const Rows&) = delete;
        Rows& operator=(Rows&&) = delete;
        ~Rows();

        PGresult* get() const { return m_result; }
        int count() const;
        // The rows a command changed (DELETE, UPDATE).
        int affected() const;
        bool isNull(int row, int column) const;
        std::string text(int row, int column) const;
        // Non-numeric text (a row edited by hand) reads as 0.
        std::int64_t integer(int row, int column) const;

    private:
        PGresult* m_result;
    };

private:
    using Parameter = std::optional<std::string>;

    explicit PostgresServiceDatabase(const std::string& uri, const DatabasePoolOptions& pool)
        : m_uri(uri), m_reconnectPause(pool.reconnectPause), m_pool(uri, pool) {}
    DatabaseResult<void> migrate();
    void startListening();
    void forgetCached();
    // Forgets what is cached when `count` (the database's change count) differs from the last
    // one read; true then.
    bool noticeChangeCount(std::int64_t count);
    // Runs one statement. A connection that turns out broken (the server restarted since it was
    // opened) is replaced and the statement sent once more. `sqlState` receives the error code
    // of a failed statement.
    DatabaseResult<Rows> query(const char* action, const char* sql,
                               std::initializer_list<Parameter> parameters = {},
                               std::string* sqlState = nullptr);

    const std::string m_uri;
    const std::chrono::milliseconds m_reconnectPause;
    PostgresConnectionPool m_pool;
    EngineListCache m_engineCache;
    TokenCache m_tokenCache;
    std::mutex m_changeMutex;
    std::int64_t m_changeCount = -1;
    std::once_flag m_listenerStarted;
    // Last: stopped first, while the cache it reports to is still there.
    std::unique_ptr<PostgresChangeListener> m_listener;
};

} // namespace aurelo::service
