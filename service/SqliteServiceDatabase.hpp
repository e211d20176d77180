#pragma once

// The embedded store: one SQLite file under the data directory, for a single instance. The server
// and the admin command open the same file; WAL mode and a busy time-out let an administrator
// change accounts while the server runs.

#include "service/EngineListCache.hpp"
#include "service/ServiceDatabase.hpp"

#include <atomic>

struct sqlite3;

namespace aurelo::service {

class SqliteServiceDatabase final : public ServiceDatabase {
public:
    static DatabaseResult<std::unique_ptr<ServiceDatabase>> open(const std::filesystem::path& file);
    ~SqliteServiceDatabase() override;

    const char* backendName() const override { return "sqlite"; }
    bool sharedAcrossInstances() const override { return false; }
    // One connection: one statement at a time.
    unsigned concurrency() const override { return 1; }

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
    // Cached; see TokenCache.
    DatabaseResult<std::optional<Account>> accountForToken(const std::string& tokenHash,
                                                           std::int64_t now) override;
    DatabaseResult<std::optional<int>> revokeTokens(const std::string& username) override;
    DatabaseResult<void> revokeToken(const std::string& tokenHash) override;
    DatabaseResult<void> purgeExpiredTokens(std::int64_t now) override;
    DatabaseResult<bool> enableEngine(const std::string& username,
                                      const EngineRecord& engine) override;
    DatabaseResult<bool> disableEngine(const std::string& username,
                                       const std::string& provider) override;
    DatabaseResult<std::vector<EngineRecord>> engines(std::int64_t userId) override;
    // Cached; see EngineListCache.
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

private:
    explicit SqliteServiceDatabase(sqlite3* handle) : m_db(handle) {
        m_engineCache.setTrusted(true);
        m_tokenCache.setTrusted(true);
    }
    // Forgets what is cached when another connection (the admin command) committed since the
    // last look; this connection's own writes forget it where they are made.
    void noticeOtherWriters();
    DatabaseResult<void> migrate();
    DatabaseError lastError(const char* action) const;

    sqlite3* m_db = nullptr;
    EngineListCache m_engineCache;
    TokenCache m_tokenCache;
    std::atomic<std::int64_t> m_dataVersion{-1};
};

} // namespace aurelo::service
