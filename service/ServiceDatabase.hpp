#pragma once

// Where the service keeps its accounts: users with their password hashes, the hashes of the login
// tokens issued to them, the engines enabled for each user, the operator's provider settings
// (keys, endpoints, models), and the request counts of the rate limits that must hold across
// instances. Two stores implement it: one SQLite file under the data directory (the embedded
// default, for one instance) and a PostgreSQL database that several instances share. The
// server and the admin command read the current rows on every request, so a change made by
// any instance or by the admin command applies to every instance at once.

#include "service/Glossary.hpp"

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace aurelo::service {

// A failure of the database itself, described for the operator in Chinese. `unavailable`: the
// database could not be reached at all (the server answers 503 and the client may retry), as
// opposed to a query that failed.
struct DatabaseError {
    std::string message;
    bool unavailable = false;
    // The database did not answer by the deadline: alive, perhaps, but stalled.
    bool stalled = false;
};

template <typename T> using DatabaseResult = std::expected<T, DatabaseError>;

// The moment by which the statements run on this thread must be answered, in force while an
// object of this class lives (DatabaseWorkers sets one for each job). A store gives up a statement
// still unanswered then, whatever the database server is doing, and reports it stalled. Without
// one (the admin command), a statement waits as long as the server's own time-out lets it.
class DatabaseDeadline {
public:
    using Clock = std::chrono::steady_clock;
    explicit DatabaseDeadline(Clock::time_point at);
    DatabaseDeadline(const DatabaseDeadline&) = delete;
    DatabaseDeadline& operator=(const DatabaseDeadline&) = delete;
    ~DatabaseDeadline();

    static std::optional<Clock::time_point> current();
    // What a statement, a connection attempt or a queued job that ran out of time reports.
    static DatabaseError missed();

private:
    std::optional<Clock::time_point> m_previous;
};

struct UserRecord {
    std::int64_t id = 0;
    std::string username;
    std::string passwordHash;
    std::int64_t createdAt = 0;
};

struct UserSummary {
    std::string username;
    std::int64_t createdAt = 0;
    int engineCount = 0;
    int activeTokens = 0;
};

struct Account {
    std::int64_t id = 0;
    std::string username;
};

// One engine enabled for a user. `provider` is the value the desktop client sends and lists;
// `backend` is what actually translates: the provider itself, or "apertium" for the offline
// demonstration engine offered under one of the client's provider values.
struct EngineRecord {
    std::string provider;
    std::string label;
    std::optional<std::string> model;
    std::string backend;

    friend bool operator==(const EngineRecord&, const EngineRecord&) = default;
};

// The operator's settings for one upstream service: a translation provider ("google", "deepl",
// "microsoft", "openai", "gemini", "claude") or "transcription" (the speech-to-text endpoint).
// Empty strings mean "not set".
struct ProviderSettings {
    std::string name;
    std::string apiKey;
    std::string endpoint;
    std::string region;
    std::string model;
};

// A request's account and, when the store keeps the rate limits, the request's count.
struct RequestAccount {
    std::optional<Account> account;
    std::int64_t count = 0; // in the window, this request included; 0 when not counted
};

// An engine of an account with the operator's settings for its backend (empty for "apertium").
struct EngineWithSettings {
    EngineRecord engine;
    ProviderSettings settings;
};

// Characters and requests of one account with one engine on one day, to be added to the store.
struct UsageDelta {
    std::int64_t accountId = 0;
    std::string engine;
    std::int64_t day = 0; // UTC days since the epoch
    std::int64_t characters = 0;
    std::int64_t requests = 0;
};

// A stored usage row as the admin command shows it.
struct UsageRow {
    std::string username;
    std::string engine;
    std::int64_t day = 0;
    std::int64_t characters = 0;
    std::int64_t requests = 0;
};

struct QuotaState {
    std::optional<std::int64_t> monthlyQuota; // characters; nullopt: no quota
    std::int64_t used = 0;
};

// What `--database` names: a SQLite file or a PostgreSQL connection URI.
struct DatabaseLocation {
    enum class Kind { sqlite, postgresql };
    Kind kind = Kind::sqlite;
    std::string target; // the file, or the URI as given

    // "sqlite:PATH" or "postgresql://…" / "postgres://…"; an error text for anything else.
    static std::expected<DatabaseLocation, std::string> parse(const std::string& text);
    // The URI with its password, if any, replaced, for messages.
    std::string display() const;
    // The password as written between the user's ':' and the last '@' before the query (still
    // percent-encoded); nullopt when there is none.
    std::optional<std::string> writtenPassword() const;
};

// How one instance uses a shared database server.
struct DatabasePoolOptions {
    std::size_t connections = 4;
    // How long a query waits for a free connection before the request is refused with 503.
    std::chrono::milliseconds acquireTimeout{2000};
    // Once a connection attempt has failed, requests are refused at once (503) while the pool
    // tries again in the background this often; the first success ends the refusals.
    std::chrono::milliseconds reconnectPause{1000};
};

// Request counts are kept per key and fixed window of this many seconds.
inline constexpr std::int64_t kRequestWindowSeconds = 60;

class ServiceDatabase {
public:
    static constexpr const char* kFileName = "aurelo-service.sqlite3";
    // The schema version this program writes; a database with a higher one is refused.
    static constexpr int kSchemaVersion = 6;

    // Opens (creating when absent) a SQLite database file and brings its schema up to date. A
    // file that is not a database of ours is refused with a description, never overwritten.
    static DatabaseResult<std::unique_ptr<ServiceDatabase>> open(const std::filesystem::path& file);
    // Opens the database `location` names and brings its schema up to date.
    static DatabaseResult<std::unique_ptr<ServiceDatabase>>
    open(const DatabaseLocation& location, const DatabasePoolOptions& pool = {});

    ServiceDatabase() = default;
    ServiceDatabase(const ServiceDatabase&) = delete;
    ServiceDatabase& operator=(const ServiceDatabase&) = delete;
    virtual ~ServiceDatabase() = default;

    // "sqlite" or "postgresql".
    virtual const char* backendName() const = 0;
    // True when other instances may share this database: the server then keeps its rate limits
    // in it instead of in memory.
    virtual bool sharedAcrossInstances() const = 0;
    // How many statements can run at once: the server runs that many database workers. Every
    // method may be called from any thread.
    virtual unsigned concurrency() const = 0;

    virtual DatabaseResult<std::int64_t>
    addUser(const std::string& username, const std::string& passwordHash, std::int64_t now) = 0;
    // False when there is no such user.
    virtual DatabaseResult<bool> removeUser(const std::string& username) = 0;
    virtual DatabaseResult<std::optional<UserRecord>> findUser(const std::string& username) = 0;
    virtual DatabaseResult<std::vector<UserSummary>> listUsers(std::int64_t now) = 0;
    // The ids of every account there is. An id is never used again once its account is removed.
    virtual DatabaseResult<std::vector<std::int64_t>> accountIds() = 0;
    // Replaces the hash and revokes every token of the user, in one transaction. False when
    // there is no such user.
    virtual DatabaseResult<bool> setPasswordHash(const std::string& username,
                                                 const std::string& hash) = 0;

    virtual DatabaseResult<void> storeToken(std::int64_t userId, const std::string& tokenHash,
                                            std::int64_t createdAt, std::int64_t expiresAt) = 0;
    // The account a token hash belongs to, when the token exists and has not expired at `now`.
    virtual DatabaseResult<std::optional<Account>> accountForToken(const std::string& tokenHash,
                                                                   std::int64_t now) = 0;
    // accountForToken, and for an account found, countRequest(countPrefix + its id, window): the
    // two a request needs first, in one round trip where the store is across a network.
    virtual DatabaseResult<RequestAccount> accountForRequest(const std::string& tokenHash,
                                                             std::int64_t now,
                                                             const std::string& countPrefix,
                                                             std::int64_t window);
    // Removes every token of the user; the number removed, or nullopt when there is no such user.
    virtual DatabaseResult<std::optional<int>> revokeTokens(const std::string& username) = 0;
    // Removes one token (a logout); removing one that is not there is no error.
    virtual DatabaseResult<void> revokeToken(const std::string& tokenHash) = 0;
    virtual DatabaseResult<void> purgeExpiredTokens(std::int64_t now) = 0;

    // Enables (or updates, keeping its place in the list) an engine. False: no such user.
    virtual DatabaseResult<bool> enableEngine(const std::string& username,
                                              const EngineRecord& engine) = 0;
    // False when the user or the engine does not exist.
    virtual DatabaseResult<bool> disableEngine(const std::string& username,
                                               const std::string& provider) = 0;
    // The user's engines in the order they were first enabled.
    virtual DatabaseResult<std::vector<EngineRecord>> engines(std::int64_t userId) = 0;
    // engines(), each with providerSettings(its backend): one round trip where it matters.
    virtual DatabaseResult<std::vector<EngineWithSettings>> enginesWithSettings(std::int64_t userId);

    // The stored settings of `name`; all fields empty when nothing is stored.
    virtual DatabaseResult<ProviderSettings> providerSettings(const std::string& name) = 0;
    virtual DatabaseResult<std::vector<ProviderSettings>> allProviderSettings() = 0;
    virtual DatabaseResult<void> setProviderSettings(const ProviderSettings& settings) = 0;

    // Counts one request of `key` in window `window` (seconds since the epoch divided by
    // kRequestWindowSeconds) and returns the window's count including it. Atomic: instances
    // counting the same key at once never lose a count.
    virtual DatabaseResult<std::int64_t> countRequest(const std::string& key,
                                                      std::int64_t window) = 0;
    // Forgets the counts of windows before `window`.
    virtual DatabaseResult<void> purgeRequestCounts(std::int64_t window) = 0;

    // A cheap query that proves the database still answers (for the health check).
    virtual DatabaseResult<void> probe() = 0;

    // The operator's glossary. A term without an account is service-wide; an account's own terms
    // add to those.
    // Every term of every list: the service-wide list first, then by user, each in the order
    // written.
    virtual DatabaseResult<std::vector<GlossaryTerm>> glossaryTerms() = 0;
    // The terms in force for an account: the service-wide ones and its own, in that order.
    virtual DatabaseResult<std::vector<GlossaryTerm>> effectiveGlossary(std::int64_t accountId) = 0;
    // Stores `terms` (already checked) in one transaction; a term with the same list, source and
    // languages as a stored one replaces it. A term of a user that no longer exists is dropped.
    virtual DatabaseResult<void> putGlossaryTerms(const std::vector<GlossaryTerm>& terms) = 0;
    // False when there is no term `id`.
    virtual DatabaseResult<bool> removeGlossaryTerm(std::int64_t id) = 0;
    // Usage and quotas. Usage is counted per account, engine and day (UTC days since the epoch)
    // and added in batches: addUsage adds every delta to what is stored (several instances add
    // to the same rows), skipping the deltas of accounts removed meanwhile.
    virtual DatabaseResult<void> addUsage(const std::vector<UsageDelta>& deltas) = 0;
    // The stored usage from `sinceDay` on, of one account or (empty name) of all, ordered by
    // day, account and engine.
    virtual DatabaseResult<std::vector<UsageRow>> usage(const std::string& username,
                                                        std::int64_t sinceDay) = 0;
    // Sets (nullopt: removes) an account's monthly character quota. False: no such user.
    virtual DatabaseResult<bool> setMonthlyQuota(const std::string& username,
                                                 std::optional<std::int64_t> characters) = 0;
    // An account's quota and the characters stored for it from `sinceDay` on.
    virtual DatabaseResult<QuotaState> quotaState(std::int64_t accountId, std::int64_t sinceDay) = 0;
};

} // namespace aurelo::service
