#pragma once

// The service's accounts in one SQLite file under the data directory: users with their password
// hashes, the hashes of the login tokens issued to them, the engines enabled for each user, and
// the operator's provider settings (keys, endpoints, models). The server and the admin command
// open the same file; WAL mode and a busy time-out let an administrator change accounts while
// the server runs, and every request reads the current rows, so changes apply at once.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace aurelo::service {

// A failure of the database itself, described for the operator in Chinese.
struct DatabaseError {
    std::string message;
};

template <typename T> using DatabaseResult = std::expected<T, DatabaseError>;

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

class ServiceDatabase {
public:
    static constexpr const char* kFileName = "aurelo-service.sqlite3";

    // Opens (creating when absent) the database file and brings its schema up to date. A file
    // that is not a database of ours is refused with a description, never overwritten.
    static DatabaseResult<std::unique_ptr<ServiceDatabase>> open(const std::filesystem::path& file);

    ServiceDatabase(const ServiceDatabase&) = delete;
    ServiceDatabase& operator=(const ServiceDatabase&) = delete;
    ~ServiceDatabase();

    DatabaseResult<std::int64_t> addUser(const std::string& username,
                                         const std::string& passwordHash, std::int64_t now);
    // False when there is no such user.
    DatabaseResult<bool> removeUser(const std::string& username);
    DatabaseResult<std::optional<UserRecord>> findUser(const std::string& username);
    DatabaseResult<std::vector<UserSummary>> listUsers(std::int64_t now);
    // Replaces the hash and revokes every token of the user. False when there is no such user.
    DatabaseResult<bool> setPasswordHash(const std::string& username, const std::string& hash);

    DatabaseResult<void> storeToken(std::int64_t userId, const std::string& tokenHash,
                                    std::int64_t createdAt, std::int64_t expiresAt);
    // The account a token hash belongs to, when the token exists and has not expired at `now`.
    DatabaseResult<std::optional<Account>> accountForToken(const std::string& tokenHash,
                                                           std::int64_t now);
    // Removes every token of the user; the number removed, or nullopt when there is no such user.
    DatabaseResult<std::optional<int>> revokeTokens(const std::string& username);
    // Removes one token (a logout); removing one that is not there is no error.
    DatabaseResult<void> revokeToken(const std::string& tokenHash);
    DatabaseResult<void> purgeExpiredTokens(std::int64_t now);

    // Enables (or updates, keeping its place in the list) an engine. False: no such user.
    DatabaseResult<bool> enableEngine(const std::string& username, const EngineRecord& engine);
    // False when the user or the engine does not exist.
    DatabaseResult<bool> disableEngine(const std::string& username, const std::string& provider);
    // The user's engines in the order they were first enabled.
    DatabaseResult<std::vector<EngineRecord>> engines(std::int64_t userId);

    // The stored settings of `name`; all fields empty when nothing is stored.
    DatabaseResult<ProviderSettings> providerSettings(const std::string& name);
    DatabaseResult<std::vector<ProviderSettings>> allProviderSettings();
    DatabaseResult<void> setProviderSettings(const ProviderSettings& settings);

    // A cheap query that proves the file is still readable (for the health check).
    bool isHealthy();

private:
    explicit ServiceDatabase(sqlite3* handle) : m_db(handle) {}
    DatabaseResult<void> migrate();
    DatabaseError lastError(const char* action) const;

    sqlite3* m_db = nullptr;
};

} // namespace aurelo::service
