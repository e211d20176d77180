#include "service/ServiceServer.hpp"

#include "platform/Text.hpp"
#include "service/AccessToken.hpp"
#include "service/BatchPlanner.hpp"
#include "service/LanguageCodes.hpp"
#include "service/PasswordHasher.hpp"
#include "service/SpeechTranscriber.hpp"
#include "service/UpdateFiles.hpp"
#include "translation/JsonCoding.hpp"
#include "translation/TranslationProvider.hpp"

#include <libsoup/soup.h>

#include <charconv>
#include <cstdio>

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace aurelo::service {

namespace {

constexpr const char* kBadJson = "请求正文不是有效的 JSON 对象。";
constexpr const char* kInternal = "服务内部错误，请稍后重试。";
constexpr const char* kDatabaseUnavailable = "数据库暂时不可用，请稍后重试。";
constexpr unsigned kDatabaseRetryAfterSeconds = 5;

std::string limitText(std::size_t bytes) {
    if (bytes >= 1024 * 1024)
        return std::to_string(bytes / (1024 * 1024)) + " MB";
    return std::to_string(bytes / 1024) + " KB";
}

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

// Strict base64 (standard alphabet, optional padding, white space tolerated); nullopt for
// anything else, or when the decoded size would pass `limit`.
std::optional<std::string> decodeBase64(const std::string& text, std::size_t limit,
                                        bool& tooLarge) {
    static constexpr auto kDecode = [] {
        std::array<int, 256> table{};
        table.fill(-1);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            table[static_cast<unsigned char>(alphabet[i])] = i;
        return table;
    }();
    tooLarge = false;
    std::string out;
    out.reserve(std::min(limit, text.size() / 4 * 3));
    unsigned buffer = 0, bits = 0;
    std::size_t padding = 0;
    for (unsigned char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        if (padding > 0 || kDecode[c] < 0)
            return std::nullopt;
        buffer = (buffer << 6) | static_cast<unsigned>(kDecode[c]);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xff));
            if (out.size() > limit) {
                tooLarge = true;
                return std::nullopt;
            }
        }
    }
    if (padding > 2 || bits >= 6)
        return std::nullopt;
    return out;
}

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

std::string bearerToken(SoupServerMessage* message) {
    const char* header = soup_message_headers_get_one(
        soup_server_message_get_request_headers(message), "Authorization");
    std::string value = header ? header : "";
    if (value.size() > 7 && g_ascii_strncasecmp(value.c_str(), "Bearer ", 7) == 0)
        return text::trimmed(value.substr(7));
    return {};
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

struct ServiceServer::Exchange {
    GRef<SoupServerMessage> message;
    RequestLogEntry log;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    // The request body, the only copy once libsoup's is released.
    GRef<GBytes> body;

    std::string_view text() const {
        if (!body)
            return {};
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(body.get(), &size));
        return {data ? data : "", size};
    }
    bool paused = false;
    bool answered = false;
    bool disconnected = false;
    gulong disconnectHandler = 0;

    ~Exchange() {
        if (disconnectHandler)
            g_signal_handler_disconnect(message.get(), disconnectHandler);
    }
};

ServiceServer::ServiceServer(ServiceDatabase& database, ServiceConfiguration configuration)
    : m_database(database), m_configuration(std::move(configuration)),
      m_log(m_configuration.logSink), m_rateLimiter("account", m_configuration.rateLimitPerMinute,
                                                    database, [this] { return now(); }),
      m_loginLimiter("login-address", m_configuration.loginRateLimitPerMinute, database,
                     [this] { return now(); }),
      m_loginUserLimiter("login-user", m_configuration.loginUserRateLimitPerMinute, database,
                         [this] { return now(); }),
      m_guard(m_configuration.connections) {
    m_upstream = std::make_shared<HttpSession>(HttpSessionConfiguration{
        .ioTimeout = std::chrono::seconds(30),
        .idleTimeout = std::chrono::seconds(60),
        .maxConnectionsPerHost = 16,
        .resourceTimeout = std::chrono::milliseconds(0),
    });
    g_signal_connect(m_upstream->soupSession(), "request-queued",
                     G_CALLBACK(upstreamRequestQueuedCallback), nullptr);
    m_apertium = std::make_shared<ApertiumRunner>(m_configuration.apertium);
    m_dispatcher = std::make_unique<TranslationDispatcher>(
        m_database, EngineFactory({m_upstream, m_configuration.upstreamTimeout}, m_apertium),
        m_configuration.cache);
    m_server = adoptGRef(soup_server_new("server-header", "aurelo-service ", nullptr));
    m_guard.attach(m_server.get());
    soup_server_add_early_handler(m_server.get(), nullptr, earlyHandlerCallback, this, nullptr);
    soup_server_add_handler(m_server.get(), nullptr, handlerCallback, this, nullptr);

    (void)m_database.purgeExpiredTokens(now());
    // Shared request counts gain a row per key and minute: clear them out every minute.
    m_purgeTimer = g_timeout_add_seconds(
        m_database.sharedAcrossInstances() ? 60 : 3600,
        [](gpointer data) -> gboolean {
            auto* self = static_cast<ServiceServer*>(data);
            (void)self->m_database.purgeExpiredTokens(self->now());
            (void)self->m_database.purgeRequestCounts(self->now() / kRequestWindowSeconds - 1);
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
    soup_server_disconnect(m_server.get());
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
    auto refuse = [&](unsigned status, const std::string& text, unsigned retryAfter = 0) {
        RequestLogEntry entry;
        entry.method = soup_server_message_get_method(message);
        entry.path = path;
        entry.status = status;
        entry.remote = self->clientAddress(message);
        self->m_log.write(entry);
        self->m_guard.answerAndClose(message, status, json::serialize({{"error", text}}),
                                     retryAfter);
    };
    if (self->m_guard.overCapacity(message))
        return refuse(503, "服务繁忙，请稍后重试。", 5);
    if (encoding == SOUP_ENCODING_CHUNKED || encoding == SOUP_ENCODING_EOF)
        return refuse(411, "请求必须带有 Content-Length。");
    std::size_t limit = self->bodyLimitFor(path);
    std::uint64_t length =
        encoding == SOUP_ENCODING_CONTENT_LENGTH
            ? static_cast<std::uint64_t>(soup_message_headers_get_content_length(headers))
            : 0;
    if (length > limit)
        return refuse(413, "请求内容过大（上限 " + limitText(limit) + "）。");
    if (length > kMaxSmallBody) {
        auto account = self->tokenAccount(message, nullptr);
        if (!account)
            return account.error().unavailable
                       ? refuse(503, kDatabaseUnavailable, kDatabaseRetryAfterSeconds)
                       : refuse(500, kInternal);
        if (!*account)
            return refuse(401, bearerToken(message).empty() ? "请先登录Aurelo翻译器账号。"
                                                            : "登录已失效，请重新登录。");
    }
    if (!self->m_guard.reserveBody(message, static_cast<std::size_t>(length)))
        return refuse(503, "服务繁忙，请稍后重试。", 2);
    self->m_guard.awaitBody(message);
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
    if (path == "/api/auth/login")
        return route(method == "POST", [&] { handleLogin(exchange); });
    if (path == "/api/auth/logout")
        return route(method == "POST", [&] { handleLogout(exchange); });
    if (path == "/api/engines")
        return route(get, [&] { handleEngines(exchange); });
    if (path == "/api/translate")
        return route(method == "POST", [&] { handleTranslate(exchange); });
    if (path == "/api/transcribe")
        return route(method == "POST", [&] { handleTranscribe(exchange); });
    if (path.starts_with("/updates/"))
        return route(get, [&] { handleUpdateFile(exchange, path.substr(9)); });
    respondError(exchange, 404, "请求的接口不存在。");
}

void ServiceServer::pause(const ExchangePtr& exchange) {
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

std::expected<std::optional<Account>, DatabaseError>
ServiceServer::tokenAccount(SoupServerMessage* message, std::string* tokenHash) {
    std::string token = bearerToken(message);
    if (token.empty())
        return std::nullopt;
    std::string hash = hashAccessToken(token);
    auto account = m_database.accountForToken(hash, now());
    if (!account)
        return std::unexpected(account.error());
    if (tokenHash)
        *tokenHash = std::move(hash);
    return *account;
}

std::optional<Account> ServiceServer::authenticate(const ExchangePtr& exchange) {
    bool presented = !bearerToken(exchange->message.get()).empty();
    auto account = tokenAccount(exchange->message.get(), nullptr);
    if (!account) {
        respondDatabaseError(exchange, account.error());
        return std::nullopt;
    }
    if (!*account) {
        respondError(exchange, 401,
                     presented ? "登录已失效，请重新登录。" : "请先登录Aurelo翻译器账号。");
        return std::nullopt;
    }
    exchange->log.user = (*account)->username;
    if (!passes(exchange, m_rateLimiter, std::to_string((*account)->id),
                "请求过于频繁，请稍后再试。"))
        return std::nullopt;
    return *account;
}

bool ServiceServer::passes(const ExchangePtr& exchange, RateLimitGate& gate, const std::string& key,
                           const char* refusal) {
    auto decision = gate.check(key);
    switch (decision.verdict) {
    case RateLimitGate::Verdict::allowed:
        return true;
    case RateLimitGate::Verdict::refused:
        setRetryAfter(exchange, decision.retryAfterSeconds);
        respondError(exchange, 429, refusal);
        return false;
    case RateLimitGate::Verdict::unavailable:
        respondDatabaseError(exchange, decision.error);
        return false;
    }
    return false;
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

void ServiceServer::handleHealth(const ExchangePtr& exchange) {
    // "database" names the store and says whether it answers, so that a load balancer's health
    // check takes an instance that lost its database out of rotation.
    nlohmann::json database = {{"backend", m_database.backendName()}};
    if (!m_database.isHealthy()) {
        database["state"] = "unavailable";
        setRetryAfter(exchange, kDatabaseRetryAfterSeconds);
        return respond(exchange, 503,
                       {{"status", "error"}, {"error", "数据库不可用。"}, {"database", database}});
    }
    database["state"] = "ok";
    respond(exchange, 200, {{"status", "ok"}, {"database", database}});
}

void ServiceServer::handleLogin(const ExchangePtr& exchange) {
    if (!passes(exchange, m_loginLimiter, exchange->log.remote, "登录尝试过于频繁，请稍后再试。"))
        return;
    auto body = json::parseValue(exchange->text());
    if (!body || !body->is_object())
        return respondError(exchange, 400, kBadJson);
    auto username = stringMember(*body, "username");
    auto password = stringMember(*body, "password");
    if (!username || !password || username->empty() || password->empty())
        return respondError(exchange, 400, "请输入用户名和密码。");
    // Guessing one user's password from many addresses is slowed as well. Unknown names count
    // too, so the answer does not tell which names exist.
    // The key is cut at a character boundary: a shared store refuses text that is not UTF-8.
    std::string userKey = username->substr(0, 128);
    const gchar* valid = nullptr;
    g_utf8_validate(userKey.data(), static_cast<gssize>(userKey.size()), &valid);
    userKey.resize(static_cast<std::size_t>(valid - userKey.data()));
    if (!passes(exchange, m_loginUserLimiter, userKey, "登录尝试过于频繁，请稍后再试。"))
        return;
    // No account name holds a NUL (the admin command refuses control characters), and
    // PostgreSQL would cut the name at it and look up another account.
    auto user = username->find('\0') == std::string::npos
                    ? m_database.findUser(*username)
                    : DatabaseResult<std::optional<UserRecord>>(std::nullopt);
    if (!user)
        return respondDatabaseError(exchange, user.error());

    // The password function costs tens of milliseconds of CPU: run it off the main loop.
    struct Check {
        std::string password;
        std::optional<UserRecord> user;
        bool matches = false;
    };
    auto check = std::make_shared<Check>(Check{std::move(*password), std::move(*user), false});
    pause(exchange);
    const CancellationToken cancellation = m_cancellable.token();
    bool accepted = m_passwordWorker.run(
        [check] {
            if (check->user)
                check->matches = PasswordHasher::verify(check->password, check->user->passwordHash);
            else
                PasswordHasher::burnVerification(check->password);
        },
        [this, cancellation, exchange, check] {
            if (cancellation.isCancelled())
                return;
            if (!check->matches)
                return respondError(exchange, 401, "用户名或密码错误。");
            std::string token = generateAccessToken();
            std::int64_t issued = now();
            std::int64_t expires = issued + m_configuration.tokenLifetime.count();
            if (token.empty())
                return respondError(exchange, 500, kInternal);
            if (auto stored =
                    m_database.storeToken(check->user->id, hashAccessToken(token), issued, expires);
                !stored)
                return respondDatabaseError(exchange, stored.error());
            exchange->log.user = check->user->username;
            respond(exchange, 200,
                    {{"token", token}, {"expiresIn", m_configuration.tokenLifetime.count()}});
        });
    if (!accepted) {
        // Every hashing thread is busy and the queue is full: waiting longer would only hold
        // more connections open.
        setRetryAfter(exchange, 5);
        respondError(exchange, 503, "登录请求过多，请稍后再试。");
    }
}

void ServiceServer::handleLogout(const ExchangePtr& exchange) {
    std::string tokenHash;
    auto account = tokenAccount(exchange->message.get(), &tokenHash);
    if (!account)
        return respondDatabaseError(exchange, account.error());
    if (!*account)
        return respondError(exchange, 401, "登录已失效，请重新登录。");
    exchange->log.user = (*account)->username;
    if (auto revoked = m_database.revokeToken(tokenHash); !revoked)
        return respondDatabaseError(exchange, revoked.error());
    exchange->answered = true;
    soup_server_message_set_status(exchange->message.get(), 204, nullptr);
    exchange->log.status = 204;
    finish(exchange);
}

void ServiceServer::handleEngines(const ExchangePtr& exchange) {
    auto account = authenticate(exchange);
    if (!account)
        return;
    auto engines = m_database.engines(account->id);
    if (!engines)
        return respondDatabaseError(exchange, engines.error());
    nlohmann::json list = nlohmann::json::array();
    for (const auto& engine : *engines) {
        // A row edited by hand with a provider the client does not know would make the client
        // reject the whole list; leave it out instead.
        if (!translationProviderFromRawValue(engine.provider))
            continue;
        nlohmann::json entry = {{"provider", engine.provider}, {"label", engine.label}};
        if (engine.model && !engine.model->empty())
            entry["model"] = *engine.model;
        list.push_back(std::move(entry));
    }
    respond(exchange, 200, {{"engines", list}});
}

void ServiceServer::handleTranslate(const ExchangePtr& exchange) {
    auto account = authenticate(exchange);
    if (!account)
        return;
    auto body = json::parseValue(exchange->text());
    if (!body || !body->is_object())
        return respondError(exchange, 400, kBadJson);
    auto provider = stringMember(*body, "provider");
    if (!provider)
        return respondError(exchange, 400, "请求缺少翻译引擎（provider）。");
    exchange->log.provider = *provider;
    if (!translationProviderFromRawValue(*provider))
        return respondError(exchange, 400, "不支持的翻译引擎：" + provider->substr(0, 32));
    auto target = stringMember(*body, "target");
    if (!target || *target == "auto" || !isPlausibleLanguageCode(*target))
        return respondError(exchange, 400, "目标语言无效。");

    bool batch = body->contains("texts");
    if (batch == body->contains("text"))
        return respondError(exchange, 400, "请求须包含 text 或 texts 之一。");
    std::vector<std::string> texts;
    if (batch) {
        const auto& list = (*body)["texts"];
        if (!list.is_array() ||
            !std::ranges::all_of(list, [](const auto& v) { return v.is_string(); }))
            return respondError(exchange, 400, "texts 必须是字符串数组。");
        if (list.size() > kMaxBatchTexts)
            return respondError(exchange, 413,
                                "单次批量翻译最多 " + std::to_string(kMaxBatchTexts) + " 条文本。");
        for (const auto& text : list)
            texts.push_back(text::trimmed(text.get<std::string>()));
    } else {
        auto text = stringMember(*body, "text");
        if (!text)
            return respondError(exchange, 400, "text 必须是字符串。");
        texts.push_back(text::trimmed(*text));
        if (texts.front().empty())
            return respondError(exchange, 400, "待翻译的文本为空。");
    }
    exchange->log.texts = texts.size();
    for (const auto& text : texts)
        if (characterCount(text) > kMaxTextCharacters)
            return respondError(exchange, 413,
                                "单条文本过长（最多 " + std::to_string(kMaxTextCharacters) +
                                    " 字）。");

    auto engine = m_dispatcher->engineFor(*account, *provider);
    if (!engine)
        return respondError(exchange, engine.error().status, engine.error().message);
    pause(exchange);
    const CancellationToken cancellation = m_cancellable.token();
    m_dispatcher->translate(
        *account, *engine, std::move(texts), *target,
        [this, cancellation, exchange, batch](DispatchOutcome outcome) {
            if (cancellation.isCancelled())
                return;
            if (!outcome)
                return respondError(exchange, outcome.error().status, outcome.error().message);
            exchange->log.cacheHits = outcome->cacheHits;
            auto encode = [](const TranslationResult& result) {
                nlohmann::json item = {{"text", result.text}};
                if (result.detectedLanguage)
                    item["detectedLanguage"] = *result.detectedLanguage;
                return item;
            };
            if (!batch) {
                const auto& result = outcome->results.front();
                if (result.text.empty())
                    return respondError(exchange, 502, "翻译引擎返回了空译文，请稍后重试。");
                return respond(exchange, 200, encode(result));
            }
            nlohmann::json results = nlohmann::json::array();
            for (const auto& result : outcome->results)
                results.push_back(encode(result));
            respond(exchange, 200, {{"results", results}});
        });
}

void ServiceServer::handleTranscribe(const ExchangePtr& exchange) {
    auto account = authenticate(exchange);
    if (!account)
        return;
    std::string audio, mime, target, source;
    {
        // The body, its parsed form and the base64 text are all gone before the provider is
        // called: a voice message must not be held three times while the recogniser works.
        auto body = json::parseValue(exchange->text());
        exchange->body.reset();
        if (!body || !body->is_object())
            return respondError(exchange, 400, kBadJson);
        auto audioText = stringMember(*body, "audio");
        auto mimeText = stringMember(*body, "mime");
        if (!audioText || !mimeText)
            return respondError(exchange, 400, "语音请求缺少音频数据或格式。");
        mime = *mimeText;
        target = stringMember(*body, "target").value_or("zh-CN");
        source = stringMember(*body, "source").value_or("auto");
        if (target == "auto" || !isPlausibleLanguageCode(target))
            return respondError(exchange, 400, "目标语言无效。");
        if (source != "auto" && !isPlausibleLanguageCode(source))
            return respondError(exchange, 400, "源语言无效。");
        if (!SpeechTranscriber::fileExtensionForMime(mime))
            return respondError(exchange, 415, "不支持的音频格式：" + mime.substr(0, 64));
        body.reset();
        bool tooLarge = false;
        auto decoded = decodeBase64(*audioText, m_configuration.maxAudioBytes, tooLarge);
        if (tooLarge)
            return respondError(exchange, 413,
                                "语音文件过大（最多 " + limitText(m_configuration.maxAudioBytes) +
                                    "）。");
        if (!decoded)
            return respondError(exchange, 400, "音频数据不是有效的 Base64 编码。");
        if (decoded->empty())
            return respondError(exchange, 400, "语音数据为空。");
        audio = std::move(*decoded);
    }

    auto engine = m_dispatcher->firstEngineFor(*account);
    if (!engine)
        return respondError(exchange, engine.error().status, engine.error().message);
    auto settings = m_database.providerSettings("transcription");
    if (!settings)
        return respondDatabaseError(exchange, settings.error());
    if (settings->apiKey.empty() && settings->endpoint.empty())
        return respondError(exchange, 503, "服务端尚未配置语音识别服务，请联系管理员。");
    if (settings->model.empty())
        return respondError(exchange, 503, "服务端尚未配置语音识别模型，请联系管理员。");
    exchange->log.provider = "transcription";
    auto transcriber = std::make_shared<SpeechTranscriber>(
        UpstreamContext{m_upstream, m_configuration.transcriptionTimeout},
        EngineSettings{settings->apiKey, settings->endpoint, settings->region, settings->model});
    pause(exchange);
    const CancellationToken cancellation = m_cancellable.token();
    transcriber->transcribe(
        std::move(audio), mime, source,
        [this, cancellation, exchange, transcriber, account = *account, engine = *engine,
         target](TranscriptOutcome transcript) {
            if (cancellation.isCancelled())
                return;
            if (!transcript)
                return respondError(exchange, transcript.error().status,
                                    transcript.error().message);
            std::string text = text::trimmed(*transcript);
            if (text.empty())
                return respondError(exchange, 422, "未能识别出语音内容。");
            exchange->log.texts = 1;
            m_dispatcher->translate(
                account, engine, {text}, target,
                [this, cancellation, exchange, text](DispatchOutcome outcome) {
                    if (cancellation.isCancelled())
                        return;
                    if (!outcome)
                        return respondError(exchange, outcome.error().status,
                                            outcome.error().message);
                    exchange->log.cacheHits = outcome->cacheHits;
                    respond(exchange, 200,
                            {{"transcript", text}, {"translation", outcome->results.front().text}});
                });
        });
}

void ServiceServer::handleUpdateFile(const ExchangePtr& exchange, const std::string& name) {
    auto file = openUpdateFile(m_configuration.updatesDirectory, name);
    if (!file)
        return respondError(exchange, 404,
                            name == "latest.json" ? "暂无可用的更新。" : "更新文件不存在。");
    SoupServerMessage* message = exchange->message.get();
    exchange->answered = true;
    soup_server_message_set_status(message, 200, nullptr);
    soup_message_headers_replace(soup_server_message_get_response_headers(message), "Cache-Control",
                                 name.ends_with(".json") ? "no-store" : "no-cache");
    soup_message_headers_set_content_type(soup_server_message_get_response_headers(message),
                                          file->contentType.c_str(), nullptr);
    soup_message_body_append_bytes(soup_server_message_get_response_body(message),
                                   file->contents.get());
    exchange->log.status = 200;
    finish(exchange);
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
