#pragma once

// The HTTP face of the service: libsoup's server on the main loop, answering the desktop
// client's six requests (login, engine list, translation, voice, update manifest and package)
// plus a health check. Every refusal is a JSON object whose "error" member the client shows its
// user unchanged. Slow work (engines, the password function) runs asynchronously: the message is
// paused and answered when the work completes, so one slow request never holds up another.

#include "service/ApertiumEngine.hpp"
#include "service/ConnectionGuard.hpp"
#include "service/RateLimitGate.hpp"
#include "service/RequestLog.hpp"
#include "service/ServiceDatabase.hpp"
#include "service/TranslationDispatcher.hpp"

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
    std::chrono::seconds shutdownGrace{10};
    // Decoded audio per voice message; the body limit of the voice request follows from it.
    std::size_t maxAudioBytes = kMaxAudioBytes;
    ApertiumConfiguration apertium;
    ConnectionLimits connections;
    // With a trusted reverse proxy in front (connections.trustedProxy), the client's address is
    // the last entry of this header of the proxy's requests, for the login limits and the log.
    std::string forwardedHeader = "X-Forwarded-For";
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
    void handleLogin(const ExchangePtr& exchange);
    void handleLogout(const ExchangePtr& exchange);
    void handleEngines(const ExchangePtr& exchange);
    void handleTranslate(const ExchangePtr& exchange);
    void handleTranscribe(const ExchangePtr& exchange);
    void handleUpdateFile(const ExchangePtr& exchange, const std::string& name);

    // The account of the request's bearer token, or nullopt after answering 401 / 429 / 500.
    std::optional<Account> authenticate(const ExchangePtr& exchange);
    // The bearer token's account: nullopt for none (or an unknown token), an error text for a
    // database failure. `tokenHash` receives the hash of the token presented.
    std::expected<std::optional<Account>, DatabaseError> tokenAccount(SoupServerMessage* message,
                                                                      std::string* tokenHash);
    // 503 when the database is unreachable (the client may try again), 500 otherwise.
    void respondDatabaseError(const ExchangePtr& exchange, const DatabaseError& error);
    // False after answering 429 (or the database's failure).
    bool passes(const ExchangePtr& exchange, RateLimitGate& gate, const std::string& key,
                const char* refusal);
    // The client's address: the peer, or what a trusted proxy says the peer was.
    std::string clientAddress(SoupServerMessage* message) const;
    void respond(const ExchangePtr& exchange, unsigned status, const nlohmann::json& body);
    void respondError(const ExchangePtr& exchange, unsigned status, const std::string& message);
    void setRetryAfter(const ExchangePtr& exchange, unsigned seconds);
    void pause(const ExchangePtr& exchange);
    void finish(const ExchangePtr& exchange);
    void checkShutdownDone();
    std::int64_t now() const;
    std::size_t bodyLimitFor(const std::string& path) const;

    ServiceDatabase& m_database;
    ServiceConfiguration m_configuration;
    RequestLog m_log;
    RateLimitGate m_rateLimiter;
    RateLimitGate m_loginLimiter;
    RateLimitGate m_loginUserLimiter;
    std::shared_ptr<HttpSession> m_upstream;
    std::shared_ptr<HttpSession> m_transcriptionSession;
    std::shared_ptr<ApertiumRunner> m_apertium;
    std::unique_ptr<TranslationDispatcher> m_dispatcher;
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
    // The last database failure written to the log, so that an outage is reported once per
    // kind of failure rather than once per request.
    std::string m_lastDatabaseFailure;
    // Pending work checks it first; answers that arrive after the server is gone are dropped.
    Cancellable m_cancellable;
};

} // namespace aurelo::service
