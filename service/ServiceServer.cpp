// ServiceServer's frame: listening, the checks made before a body is read, routing, answering,
// authentication and rate limits, and graceful shutdown. The routes live in ServiceServer*.cpp.
#include "service/ServiceServer.hpp"

#include "service/AccessToken.hpp"
#include "service/ServiceExchange.hpp"
#include "translation/JsonCoding.hpp"

#include <libsoup/soup.h>

#include <atomic>
#include <charconv>
#include <cstdio>

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace aurelo::service {

namespace {

// Answers are written as headers, then body; with Nagle's algorithm the second small write waits
// for the client's delayed acknowledgement, about 40 ms on Linux, on every request.
void disableNagle(GSocket* socket) {
    if (socket && g_socket_get_family(socket) != G_SOCKET_FAMILY_UNIX)
        g_socket_set_option(socket, IPPROTO_TCP, TCP_NODELAY, 1, nullptr);
}

// The same for the connections to the providers, set as soon as each one is made.
void upstreamNetworkEventCallback(SoupMessage*, GSocketClientEvent event, GIOStream* connection,
                                  gpointer) {
    if (event == G_SOCKET_CLIENT_CONNECTED && G_IS_SOCKET_CONNECTION(connection))
        disableNagle(g_socket_connection_get_socket(G_SOCKET_CONNECTION(connection)));
}

void upstreamRequestQueuedCallback(SoupSession*, SoupMessage* message, gpointer) {
    g_signal_connect(message, "network-event", G_CALLBACK(upstreamNetworkEventCallback), nullptr);
}

} // namespace

std::optional<ListenAddress> parseListenAddress(const std::string& text) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    unsigned port = 0;
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    auto [end, error] = std::from_chars(first, last, port);
    if (error != std::errc() || end != last || first == last || port > 65535)
        return std::nullopt;
    if (host != "localhost" && !g_hostname_is_ip_address(host.c_str()))
        return std::nullopt;
    return ListenAddress{host, port};
}

ServiceServer::ServiceServer(ServiceDatabase& database, ServiceConfiguration configuration)
    : m_database(database), m_configuration(std::move(configuration)),
      m_log(m_configuration.logSink),
      m_rateLimiter("account", m_configuration.rateLimitPerMinute, database),
      m_loginLimiter("login-address", m_configuration.loginRateLimitPerMinute, database),
      m_loginUserLimiter("login-user", m_configuration.loginUserRateLimitPerMinute, database),
      m_quotas(database, m_usage, m_configuration.usageInterval),
      m_guard(m_configuration.connections) {
    m_upstream = std::make_shared<HttpSession>(HttpSessionConfiguration{
        .ioTimeout = std::chrono::seconds(30),
        .idleTimeout = std::chrono::seconds(60),
        .maxConnectionsPerHost = std::max(1u, m_configuration.upstreamConnections),
        // Each of the six engines' hosts may use its whole share at once.
        .maxConnections = 6 * std::max(1u, m_configuration.upstreamConnections),
        .resourceTimeout = std::chrono::milliseconds(0),
    });
    g_signal_connect(m_upstream->soupSession(), "request-queued",
                     G_CALLBACK(upstreamRequestQueuedCallback), nullptr);
    m_apertium = std::make_shared<ApertiumRunner>(m_configuration.apertium);
    m_dispatcher = std::make_unique<TranslationDispatcher>(
        EngineFactory({m_upstream, m_configuration.upstreamTimeout}, m_apertium),
        m_configuration.cache);
    // As many workers as the store runs statements at once; the queue holds about one request
    // per connection the guard admits.
    m_databaseWorkers = std::make_unique<DatabaseWorkers>(
        m_database.concurrency(), std::max<std::size_t>(64, m_configuration.connections.maxConnections));
    m_server = adoptGRef(soup_server_new("server-header", "aurelo-service ", nullptr));
    m_guard.attach(m_server.get());
    soup_server_add_early_handler(m_server.get(), nullptr, earlyHandlerCallback, this, nullptr);
    soup_server_add_handler(m_server.get(), nullptr, handlerCallback, this, nullptr);

    // Every minute: expired tokens and past request counts go (shared counts gain a row per key
    // and minute), and so do the cached results of accounts removed meanwhile (by the admin
    // command, in another process).
    auto purge = [](gpointer data) -> gboolean {
        auto* self = static_cast<ServiceServer*>(data);
        const CancellationToken cancellation = self->m_cancellable.token();
        self->m_databaseWorkers->run<std::vector<std::int64_t>>(
            self->m_configuration.databaseTimeout,
            [&database = self->m_database, now = self->now()] {
                (void)database.purgeExpiredTokens(now);
                (void)database.purgeRequestCounts(now / kRequestWindowSeconds - 1);
                return database.accountIds();
            },
            [self, cancellation](DatabaseResult<std::vector<std::int64_t>> accounts) {
                if (!cancellation.isCancelled() && accounts)
                    self->m_dispatcher->forgetRemovedAccounts(*accounts);
            });
        return G_SOURCE_CONTINUE;
    };
    purge(this);
    m_purgeTimer = g_timeout_add_seconds(60, purge, this);
    m_usageTimer = g_timeout_add(
        static_cast<guint>(std::max<std::int64_t>(10, m_configuration.usageInterval.count())),
        [](gpointer data) -> gboolean {
            static_cast<ServiceServer*>(data)->writeUsage();
            return G_SOURCE_CONTINUE;
        },
        this);
}

ServiceServer::~ServiceServer() {
    m_cancellable.cancel();
    if (m_purgeTimer)
        g_source_remove(m_purgeTimer);
    if (m_shutdownTimer)
        g_source_remove(m_shutdownTimer);
    if (m_usageTimer)
        g_source_remove(m_usageTimer);
    soup_server_disconnect(m_server.get());
    // The workers first (a write under way settles), then what is left is written here, within
    // the database deadline.
    m_databaseWorkers.reset();
    if (auto rest = m_usage.takeAll(); !rest.empty()) {
        DatabaseDeadline deadline(DatabaseDeadline::Clock::now() + m_configuration.databaseTimeout);
        if (auto written = m_database.addUsage(rest); !written)
            std::fprintf(stderr, "aurelo-service: 用量未能写入数据库：%s\n",
                         written.error().message.c_str());
    }
}

void ServiceServer::countUsage(std::int64_t accountId, const std::string& engine,
                               std::int64_t characters) {
    m_usage.record(accountId, engine, usageDay(now()), characters);
    m_quotas.spend(accountId, characters);
}

void ServiceServer::writeUsage() {
    auto deltas = m_usage.take();
    if (deltas.empty())
        return;
    // The job settles the batch itself, so a write that ran is never written again at the stop;
    // one that expired in the queue is settled as unwritten when that is learnt.
    auto ran = std::make_shared<std::atomic<bool>>(false);
    const CancellationToken cancellation = m_cancellable.token();
    bool queued = m_databaseWorkers->run<bool>(
        m_configuration.databaseTimeout,
        [&database = m_database, &usage = m_usage, deltas, ran]() -> DatabaseResult<bool> {
            ran->store(true);
            auto written = database.addUsage(deltas);
            usage.settle(written.has_value());
            if (!written)
                return std::unexpected(written.error());
            return true;
        },
        [this, cancellation, ran](DatabaseResult<bool>) {
            if (!cancellation.isCancelled() && !ran->load())
                m_usage.settle(false);
        });
    if (!queued)
        m_usage.settle(false);
}

std::size_t ServiceServer::bodyLimitFor(const std::string& path) const {
    if (path == "/api/transcribe") // base64 of the audio and room for the other members
        return (m_configuration.maxAudioBytes + 2) / 3 * 4 + 64 * 1024;
    if (path == "/api/translate")
        return kMaxTranslateBody;
    return kMaxSmallBody;
}

std::int64_t ServiceServer::now() const {
    if (m_configuration.clock)
        return m_configuration.clock();
    return g_get_real_time() / G_USEC_PER_SEC;
}

std::expected<void, std::string> ServiceServer::listen(const ListenAddress& address,
                                                       const std::filesystem::path& tlsCertificate,
                                                       const std::filesystem::path& tlsKey) {
    bool secure = !tlsCertificate.empty() || !tlsKey.empty();
    GErrorHolder error;
    if (secure) {
        if (tlsCertificate.empty() || tlsKey.empty())
            return std::unexpected("启用 HTTPS 需要同时指定 --tls-cert 和 --tls-key。");
        auto certificate = adoptGRef(
            g_tls_certificate_new_from_files(tlsCertificate.c_str(), tlsKey.c_str(), error.out()));
        if (!certificate)
            return std::unexpected(std::string("无法读取 TLS 证书或私钥：") + error->message);
        m_certificate = std::move(certificate);
    }
    std::string host = address.host == "localhost" ? "127.0.0.1" : address.host;
    auto inet = adoptGRef(g_inet_address_new_from_string(host.c_str()));
    if (!inet)
        return std::unexpected("监听地址无效：" + address.host);
    auto socketAddress =
        adoptGRef(g_inet_socket_address_new(inet.get(), static_cast<guint16>(address.port)));
    auto port = m_guard.listen(socketAddress.get(), m_certificate.get());
    if (!port)
        return std::unexpected(std::string("无法监听 ") + address.host + ":" +
                               std::to_string(address.port) + "：" + port.error());
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    m_origin = std::string(secure ? "https" : "http") + "://" + host + ":" + std::to_string(*port);
    return {};
}

// Runs once the headers are in, before the body is read: a request that the service would
// refuse anyway (too large, of unknown length, beyond a cap, or a large body without a known
// token) is answered here, so that its body is never read, and its connection is closed.
void ServiceServer::earlyHandlerCallback(SoupServer*, SoupServerMessage* message, const char* path,
                                         GHashTable*, gpointer data) {
    auto* self = static_cast<ServiceServer*>(data);
    SoupMessageHeaders* headers = soup_server_message_get_request_headers(message);
    SoupEncoding encoding = soup_message_headers_get_encoding(headers);
    if (self->m_guard.overCapacity(message))
        return self->refuseEarly(message, path, 503, "服务繁忙，请稍后重试。", 5);
    if (encoding == SOUP_ENCODING_CHUNKED || encoding == SOUP_ENCODING_EOF)
        return self->refuseEarly(message, path, 411, "请求必须带有 Content-Length。");
    std::size_t limit = self->bodyLimitFor(path);
    std::uint64_t length =
        encoding == SOUP_ENCODING_CONTENT_LENGTH
            ? static_cast<std::uint64_t>(soup_message_headers_get_content_length(headers))
            : 0;
    if (length > limit)
        return self->refuseEarly(message, path, 413, "请求内容过大（上限 " + limitText(limit) + "）。");
    if (length > kMaxSmallBody)
        return self->admitLargeBody(message, path, static_cast<std::size_t>(length));
    if (!self->m_guard.reserveBody(message, static_cast<std::size_t>(length)))
        return self->refuseEarly(message, path, 503, "服务繁忙，请稍后重试。", 2);
    self->m_guard.awaitBody(message);
}

void ServiceServer::refuseEarly(SoupServerMessage* message, const std::string& path,
                                unsigned status, const std::string& text, unsigned retryAfter) {
    RequestLogEntry entry;
    entry.method = soup_server_message_get_method(message);
    entry.path = path;
    entry.status = status;
    entry.remote = clientAddress(message);
    m_log.write(entry);
    m_metrics.request(path, status, 0);
    m_guard.answerAndClose(message, status, json::serialize({{"error", text}}), retryAfter);
}

void ServiceServer::admitLargeBody(SoupServerMessage* message, const std::string& path,
                                   std::size_t length) {
    std::string token = bearerToken(message);
    if (token.empty())
        return refuseEarly(message, path, 401, "请先登录Aurelo翻译器账号。");
    // The token is looked up on a database worker; reading the body waits for its answer. The
    // body time-out runs meanwhile, so a stalled database cannot hold the connection for ever.
    m_guard.awaitBody(message);
    soup_server_message_pause(message);
    const CancellationToken cancellation = m_cancellable.token();
    GRef<SoupServerMessage> held(message);
    bool queued = m_databaseWorkers->run<bool>(
        m_configuration.databaseTimeout,
        [this, hash = hashAccessToken(token), now = now()]() -> DatabaseResult<bool> {
            auto account = m_database.accountForToken(hash, now);
            if (!account)
                return std::unexpected(account.error());
            return account->has_value();
        },
        [this, cancellation, held, path, length](DatabaseResult<bool> known) {
            if (cancellation.isCancelled())
                return;
            SoupServerMessage* message = held.get();
            noteDatabase(known ? nullptr : &known.error());
            if (!known)
                return known.error().unavailable
                           ? refuseEarly(message, path, 503, kDatabaseUnavailable,
                                         kDatabaseRetryAfterSeconds)
                           : refuseEarly(message, path, 500, kInternal);
            if (!*known)
                return refuseEarly(message, path, 401, "登录已失效，请重新登录。");
            if (!m_guard.reserveBody(message, length))
                return refuseEarly(message, path, 503, "服务繁忙，请稍后重试。", 2);
            soup_server_message_unpause(message);
        });
    if (!queued)
        refuseEarly(message, path, 503, kDatabaseUnavailable, kDatabaseRetryAfterSeconds);
}

void ServiceServer::handlerCallback(SoupServer*, SoupServerMessage* message, const char* path,
                                    GHashTable*, gpointer data) {
    static_cast<ServiceServer*>(data)->handle(message, path ? path : "");
}

void ServiceServer::handle(SoupServerMessage* message, const std::string& path) {
    m_guard.requestRead(message);
    auto exchange = std::make_shared<Exchange>();
    exchange->message = GRef<SoupServerMessage>(message);
    exchange->log.method = soup_server_message_get_method(message);
    exchange->log.path = path;
    exchange->log.remote = clientAddress(message);
    if (SoupMessageBody* body = soup_server_message_get_request_body(message);
        body && body->length > 0) {
        // Flattening copies the chunks; dropping them leaves one copy of the body in memory.
        exchange->body = adoptGRef(soup_message_body_flatten(body));
        soup_message_body_truncate(body);
    }
    exchange->log.requestBytes = exchange->text().size();

    if (m_stopping) {
        soup_message_headers_replace(soup_server_message_get_response_headers(message),
                                     "Connection", "close");
        return respondError(exchange, 503, "服务正在停止，请稍后重试。");
    }
    const std::string& method = exchange->log.method;
    bool get = method == "GET" || method == "HEAD";
    auto route = [&](bool methodOk, auto&& handler) {
        if (!methodOk)
            return respondError(exchange, 405, "不支持的请求方法。");
        handler();
    };
    if (path == "/healthz")
        return route(get, [&] { handleHealth(exchange); });
    if (path == "/metrics" && m_configuration.metricsAccess.allows(exchange->log.remote))
        return route(get, [&] { handleMetrics(exchange); });
    if (path == "/api/auth/login")
        return route(method == "POST", [&] { handleLogin(exchange); });
    if (path == "/api/auth/logout")
        return route(method == "POST", [&] { handleLogout(exchange); });
    if (path == "/api/engines")
        return route(get, [&] { handleEngines(exchange); });
    if (path == "/api/translate")
        return route(method == "POST", [&] { handleTranslate(exchange); });
    if (path == "/api/glossary")
        return route(get, [&] { handleGlossary(exchange); });
    if (path == "/api/transcribe")
        return route(method == "POST", [&] { handleTranscribe(exchange); });
    if (path.starts_with("/updates/"))
        return route(get, [&] { handleUpdateFile(exchange, path.substr(9)); });
    respondError(exchange, 404, "请求的接口不存在。");
}

void ServiceServer::pause(const ExchangePtr& exchange) {
    if (exchange->paused)
        return;
    exchange->paused = true;
    ++m_inProgress;
    soup_server_message_pause(exchange->message.get());
    exchange->disconnectHandler = g_signal_connect(
        exchange->message.get(), "disconnected", G_CALLBACK(+[](SoupServerMessage*, gpointer data) {
            static_cast<Exchange*>(data)->disconnected = true;
        }),
        exchange.get());
}

void ServiceServer::respond(const ExchangePtr& exchange, unsigned status,
                            const nlohmann::json& body) {
    if (exchange->answered)
        return;
    exchange->answered = true;
    SoupServerMessage* message = exchange->message.get();
    std::string text = json::serialize(body);
    if (!exchange->disconnected) {
        soup_server_message_set_status(message, status, nullptr);
        soup_message_headers_replace(soup_server_message_get_response_headers(message),
                                     "Cache-Control", "no-store");
        soup_server_message_set_response(message, "application/json; charset=utf-8",
                                         SOUP_MEMORY_COPY, text.data(), text.size());
    }
    exchange->log.status = status;
    finish(exchange);
}

void ServiceServer::setRetryAfter(const ExchangePtr& exchange, unsigned seconds) {
    soup_message_headers_replace(soup_server_message_get_response_headers(exchange->message.get()),
                                 "Retry-After", std::to_string(seconds).c_str());
}

void ServiceServer::respondError(const ExchangePtr& exchange, unsigned status,
                                 const std::string& message) {
    respond(exchange, status, {{"error", message}});
}

void ServiceServer::finish(const ExchangePtr& exchange) {
    exchange->log.durationMs = std::chrono::duration<double, std::milli>(
                                   std::chrono::steady_clock::now() - exchange->start)
                                   .count();
    m_log.write(exchange->log);
    m_metrics.request(exchange->log.path, exchange->log.status, exchange->log.durationMs / 1000);
    if (exchange->paused) {
        exchange->paused = false;
        if (!exchange->disconnected)
            soup_server_message_unpause(exchange->message.get());
        --m_inProgress;
        checkShutdownDone();
    }
}

std::string ServiceServer::clientAddress(SoupServerMessage* message) const {
    const char* remote = soup_server_message_get_remote_host(message);
    std::string peer = remote ? remote : "";
    const std::string& proxy = m_configuration.connections.trustedProxy;
    if (proxy.empty() || peer != proxy || m_configuration.forwardedHeader.empty())
        return peer;
    const char* forwarded = soup_message_headers_get_list(
        soup_server_message_get_request_headers(message), m_configuration.forwardedHeader.c_str());
    if (!forwarded)
        return peer;
    // The proxy appends the address it saw to whatever the client claimed: only the last entry
    // is the proxy's word.
    std::string list = forwarded;
    std::string last =
        text::trimmed(list.substr(list.rfind(',') == std::string::npos ? 0 : list.rfind(',') + 1));
    return g_hostname_is_ip_address(last.c_str()) ? last : peer;
}

bool ServiceServer::admit(const ExchangePtr& exchange, const RateLimitGate::Decision& decision,
                          const char* refusal) {
    switch (decision.verdict) {
    case RateLimitGate::Verdict::allowed:
        return true;
    case RateLimitGate::Verdict::refused:
        setRetryAfter(exchange, decision.retryAfterSeconds);
        respondError(exchange, 429, refusal);
        return false;
    case RateLimitGate::Verdict::unavailable:
        noteDatabase(&decision.error);
        respondDatabaseError(exchange, decision.error);
        return false;
    }
    return false;
}

void ServiceServer::noteDatabase(const DatabaseError* error) {
    if (!error)
        m_databaseState = DatabaseState::ok;
    else if (error->stalled)
        m_databaseState = DatabaseState::stalled;
    else if (error->unavailable)
        m_databaseState = DatabaseState::unavailable;
}

void ServiceServer::respondDatabaseError(const ExchangePtr& exchange, const DatabaseError& error) {
    if (error.message != m_lastDatabaseFailure) {
        m_lastDatabaseFailure = error.message;
        std::fprintf(stderr, "aurelo-service: %s\n", error.message.c_str());
    }
    if (!error.unavailable)
        return respondError(exchange, 500, kInternal);
    setRetryAfter(exchange, kDatabaseRetryAfterSeconds);
    respondError(exchange, 503, kDatabaseUnavailable);
}

void ServiceServer::beginShutdown(std::function<void()> done) {
    m_stopping = true;
    m_shutdownDone = std::move(done);
    m_shutdownTimer = g_timeout_add_seconds(
        static_cast<guint>(m_configuration.shutdownGrace.count()),
        [](gpointer data) -> gboolean {
            auto* self = static_cast<ServiceServer*>(data);
            self->m_shutdownTimer = 0;
            if (auto done = std::exchange(self->m_shutdownDone, nullptr))
                done();
            return G_SOURCE_REMOVE;
        },
        this);
    checkShutdownDone();
}

void ServiceServer::checkShutdownDone() {
    if (!m_stopping || m_inProgress > 0 || !m_shutdownDone)
        return;
    if (m_shutdownTimer) {
        g_source_remove(m_shutdownTimer);
        m_shutdownTimer = 0;
    }
    // Let the last answer be written before the caller tears the server down.
    auto done = std::exchange(m_shutdownDone, nullptr);
    g_timeout_add_full(
        G_PRIORITY_LOW, 100,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(done)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

} // namespace aurelo::service
