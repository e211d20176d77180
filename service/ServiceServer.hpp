#pragma once

// The HTTP face of the service: libsoup's server on the main loop, answering the desktop
// client's six requests (login, engine list, translation, voice, update manifest and package)
// plus a health check. Every refusal is a JSON object whose "error" member the client shows its
// user unchanged. Slow work (engines, the password function, every database statement) runs
// off the main loop: the message is paused and answered when the work completes, so one slow
// request never holds up another, and a stalled database holds up only the requests that need it,
// each no longer than the database deadline.

#include "service/ApertiumEngine.hpp"
#include "service/ConnectionGuard.hpp"
#include "service/DatabaseWorkers.hpp"
#include "service/MetricsAccess.hpp"
#include "service/QuotaGate.hpp"
#include "service/RateLimitGate.hpp"
#include "service/RequestLog.hpp"
#include "service/ServiceDatabase.hpp"
#include "service/ServiceMetrics.hpp"
#include "service/TranslationDispatcher.hpp"
#include "service/UsageBatch.hpp"

#include "platform/BackgroundWorker.hpp"
#include "platform/Cancellable.hpp"
#include "platform/GRef.hpp"
#include "translation/TranslationNetwork.hpp"

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;

namespace aurelo::service {

// Request size limits. A voice message may carry the client's 18 MiB of audio as base64. A body
// larger than kMaxSmallBody is read only for a request whose bearer token the database knows.
inline constexpr std::size_t kMaxAudioBytes = 18u * 1024 * 1024;
inline constexpr std::size_t kMaxTranslateBody = 2u * 1024 * 1024;
inline constexpr std::size_t kMaxSmallBody = 64u * 1024;
inline constexpr std::size_t kMaxBatchTexts = 100;
inline constexpr std::size_t kMaxTextCharacters = 10000;

struct ServiceConfiguration {
    std::filesystem::path updatesDirectory;
    std::chrono::seconds tokenLifetime = std::chrono::hours(24 * 30);
    unsigned rateLimitPerMinute = 600;         // per account
    unsigned loginRateLimitPerMinute = 30;     // per client address
    unsigned loginUserRateLimitPerMinute = 10; // per user name, whatever the address
    ResultCache::Limits cache;
    // The service gives up on a provider before the application gives up on the service, so the
    // user reads why (the provider was slow) instead of a bare time-out.
    std::chrono::milliseconds upstreamTimeout = TranslationNetwork::kServiceTranslationBudget;
    std::chrono::milliseconds transcriptionTimeout{45000};
    // Connections kept to each provider host. With a provider answering in tens of milliseconds
    // this bounds the uncached translations per second (connections / answer time), so an
    // operator with many agents raises it.
    unsigned upstreamConnections = 16;
    std::chrono::seconds shutdownGrace{10};
    // The longest a request waits for the database (queued, connecting and running statements
    // together); past it the request is answered 503 with Retry-After.
    std::chrono::milliseconds databaseTimeout{5000};
    // Usage is written to the database this often (a crash loses at most this much of it), and
    // quotas are read again as often.
    std::chrono::milliseconds usageInterval{5000};
    // Decoded audio per voice message; the body limit of the voice request follows from it.
    std::size_t maxAudioBytes = kMaxAudioBytes;
    ApertiumConfiguration apertium;
    ConnectionLimits connections;
    // With a trusted reverse proxy in front (connections.trustedProxy), the client's address is
    // the last entry of this header of the proxy's requests, for the login limits and the log.
    std::string forwardedHeader = "X-Forwarded-For";
    // Who may read /metrics; nobody by default.
    MetricsAccess metricsAccess;
    // Seconds since the epoch; tests move it to expire tokens.
    std::function<std::int64_t()> clock;
    RequestLog::Sink logSink;
};

struct ListenAddress {
    std::string host = "127.0.0.1";
    unsigned port = 0;
};

// "127.0.0.1:8787", "[::1]:8787", "0.0.0.0:443"; nullopt when malformed.
std::optional<ListenAddress> parseListenAddress(const std::string& text);

class ServiceServer {
public:
    ServiceServer(ServiceDatabase& database, ServiceConfiguration configuration);
    ServiceServer(const ServiceServer&) = delete;
    ServiceServer& operator=(const ServiceServer&) = delete;
    ~ServiceServer();

    // Starts listening; with a certificate and key (PEM files) the service speaks HTTPS.
    std::expected<void, std::string> listen(const ListenAddress& address,
                                            const std::filesystem::path& tlsCertificate = {},
                                            const std::filesystem::path& tlsKey = {});
    // "http://127.0.0.1:<port>" (or https) once listening.
    const std::string& origin() const { return m_origin; }

    // Graceful shutdown: new requests are refused with 503, and `done` runs once the requests
    // in progress have been answered, or after the grace period.
    void beginShutdown(std::function<void()> done);
    std::size_t requestsInProgress() const { return m_inProgress; }

private:
    struct Exchange;
    using ExchangePtr = std::shared_ptr<Exchange>;

    static void earlyHandlerCallback(SoupServer*, SoupServerMessage*, const char*, GHashTable*,
                                     gpointer);
    static void handlerCallback(SoupServer*, SoupServerMessage*, const char*, GHashTable*,
                                gpointer);
    void handle(SoupServerMessage* message, const std::string& path);

    void handleHealth(const ExchangePtr& exchange);
    void handleMetrics(const ExchangePtr& exchange);
    void handleLogin(const ExchangePtr& exchange);
    void checkPassword(const ExchangePtr& exchange, std::string password,
                       std::optional<UserRecord> user);
    void handleLogout(const ExchangePtr& exchange);
    void handleEngines(const ExchangePtr& exchange);
    // GET /api/glossary: the account's effective glossary (ServiceServerGlossary.cpp).
    void handleGlossary(const ExchangePtr& exchange);
    void handleTranslate(const ExchangePtr& exchange);
    void translate(const ExchangePtr& exchange, const Account& account,
                   const std::shared_ptr<TranslationEngine>& engine,
                   std::vector<std::string> texts, const std::string& target, bool batch);
    void handleTranscribe(const ExchangePtr& exchange);
    // Counts a translation's cache lookups and, when it reached its engine, the engine's call.
    void noteTranslation(const std::string& engine, std::size_t texts,
                         const DispatchOutcome& outcome);
    void transcribe(const ExchangePtr& exchange, const Account& account,
                    const std::shared_ptr<TranslationEngine>& engine,
                    const ProviderSettings& settings, std::string audio, const std::string& mime,
                    const std::string& source, const std::string& target);
    void handleUpdateFile(const ExchangePtr& exchange, const std::string& name);

    // Runs `work` on a database worker, then `then` with its value on the main loop; a database
    // failure is answered instead (503 or 500). The exchange stays paused meanwhile. `work` may
    // use m_database and the rate-limit gates, which are safe from any thread and outlive the
    // workers; nothing else of the server.
    template <typename T>
    void withDatabase(const ExchangePtr& exchange, std::function<DatabaseResult<T>()> work,
                      std::function<void(T)> then);
    // withDatabase for a request that needs an account: on the worker, the bearer token's account
    // and its rate-limit count, then `more` for that account; on the main loop, 401 / 429 or
    // `then`.
    template <typename T>
    void authenticated(const ExchangePtr& exchange,
                       std::function<DatabaseResult<T>(const Account&)> more,
                       std::function<void(const Account&, T)> then);
    // Answers a request refused before its body was read, and closes its connection.
    void refuseEarly(SoupServerMessage* message, const std::string& path, unsigned status,
                     const std::string& text, unsigned retryAfter = 0);
    // The early check of a large body's token, answered on the main loop.
    void admitLargeBody(SoupServerMessage* message, const std::string& path, std::size_t length);
    // 503 when the database is unreachable (the client may try again), 500 otherwise.
    void respondDatabaseError(const ExchangePtr& exchange, const DatabaseError& error);
    // False after answering 429 (or the database's failure).
    bool admit(const ExchangePtr& exchange, const RateLimitGate::Decision& decision,
               const char* refusal);
    // What the last database work tells about the database, for the health check.
    void noteDatabase(const DatabaseError* error);
    // A health probe in the background, so that the state of a stalled database is learnt
    // again without a request waiting for it.
    void probeDatabase(std::function<void()> done = {});
    // The client's address: the peer, or what a trusted proxy says the peer was.
    std::string clientAddress(SoupServerMessage* message) const;
    void respond(const ExchangePtr& exchange, unsigned status, const nlohmann::json& body);
    void respondError(const ExchangePtr& exchange, unsigned status, const std::string& message);
    void setRetryAfter(const ExchangePtr& exchange, unsigned seconds);
    void pause(const ExchangePtr& exchange);
    void finish(const ExchangePtr& exchange);
    void checkShutdownDone();
    // Counts a translation's characters for usage and the account's quota.
    void countUsage(std::int64_t accountId, const std::string& engine, std::int64_t characters);
    // Writes the usage counted since the last write, on a database worker.
    void writeUsage();
    std::int64_t now() const;
    std::size_t bodyLimitFor(const std::string& path) const;

    ServiceDatabase& m_database;
    ServiceConfiguration m_configuration;
    RequestLog m_log;
    ServiceMetrics m_metrics;
    RateLimitGate m_rateLimiter;
    RateLimitGate m_loginLimiter;
    RateLimitGate m_loginUserLimiter;
    std::shared_ptr<HttpSession> m_upstream;
    std::shared_ptr<HttpSession> m_transcriptionSession;
    std::shared_ptr<ApertiumRunner> m_apertium;
    std::unique_ptr<TranslationDispatcher> m_dispatcher;
    UsageBatch m_usage;
    QuotaGate m_quotas;
    // After the database and the gates its jobs use: destroyed (its running jobs joined) first.
    std::unique_ptr<DatabaseWorkers> m_databaseWorkers;
    enum class DatabaseState { ok, unavailable, stalled };
    DatabaseState m_databaseState = DatabaseState::ok;
    bool m_probing = false;
    // Password stretching costs tens of milliseconds and 32 MiB per attempt: two threads of its
    // own bound both, and a short queue bounds how many logins wait.
    BackgroundWorker m_passwordWorker{2, 64};
    GRef<SoupServer> m_server;
    GRef<GTlsCertificate> m_certificate;
    // After the server: destroyed first, while the server it listens to is still there.
    ConnectionGuard m_guard;
    std::string m_origin;
    std::size_t m_inProgress = 0;
    bool m_stopping = false;
    std::function<void()> m_shutdownDone;
    guint m_shutdownTimer = 0;
    guint m_purgeTimer = 0;
    guint m_usageTimer = 0;
    // The last database failure written to the log, so that an outage is reported once per
    // kind of failure rather than once per request.
    std::string m_lastDatabaseFailure;
    // Pending work checks it first; answers that arrive after the server is gone are dropped.
    Cancellable m_cancellable;
};

} // namespace aurelo::service
