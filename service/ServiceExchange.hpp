#pragma once

// What the route groups of ServiceServer share: one request in progress (ServiceServer::Exchange),
// the refusal texts more than one route answers with, and the small readers of a request.

#include "service/ServiceServer.hpp"

#include "platform/Text.hpp"
#include "service/AccessToken.hpp"
#include "service/RequestLog.hpp"

#include <libsoup/soup.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo::service {

inline constexpr const char* kBadJson = "请求正文不是有效的 JSON 对象。";
inline constexpr const char* kInternal = "服务内部错误，请稍后重试。";
inline constexpr const char* kDatabaseUnavailable = "数据库暂时不可用，请稍后重试。";
inline constexpr unsigned kDatabaseRetryAfterSeconds = 5;

// "2 MB", "64 KB": a size limit as the refusals name it.
inline std::string limitText(std::size_t bytes) {
    if (bytes >= 1024 * 1024)
        return std::to_string(bytes / (1024 * 1024)) + " MB";
    return std::to_string(bytes / 1024) + " KB";
}

inline std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

inline std::string bearerToken(SoupServerMessage* message) {
    const char* header = soup_message_headers_get_one(
        soup_server_message_get_request_headers(message), "Authorization");
    std::string value = header ? header : "";
    if (value.size() > 7 && g_ascii_strncasecmp(value.c_str(), "Bearer ", 7) == 0)
        return text::trimmed(value.substr(7));
    return {};
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
    // The engine a voice message is translated with, for its usage.
    std::string engine;
    bool paused = false;
    bool answered = false;
    bool disconnected = false;
    gulong disconnectHandler = 0;

    ~Exchange() {
        if (disconnectHandler)
            g_signal_handler_disconnect(message.get(), disconnectHandler);
    }
};

template <typename T>
void ServiceServer::withDatabase(const ExchangePtr& exchange,
                                 std::function<DatabaseResult<T>()> work,
                                 std::function<void(T)> then) {
    pause(exchange);
    const CancellationToken cancellation = m_cancellable.token();
    bool queued = m_databaseWorkers->run<T>(
        m_configuration.databaseTimeout, std::move(work),
        [this, cancellation, exchange, then = std::move(then)](DatabaseResult<T> result) {
            if (cancellation.isCancelled())
                return;
            noteDatabase(result ? nullptr : &result.error());
            if (!result)
                return respondDatabaseError(exchange, result.error());
            then(std::move(*result));
        });
    if (!queued)
        respondDatabaseError(exchange, DatabaseError{"等待数据库的请求过多。", true});
}

template <typename T>
void ServiceServer::authenticated(const ExchangePtr& exchange,
                                  std::function<DatabaseResult<T>(const Account&)> more,
                                  std::function<void(const Account&, T)> then) {
    std::string token = bearerToken(exchange->message.get());
    if (token.empty())
        return respondError(exchange, 401, "请先登录Aurelo翻译器账号。");
    struct Outcome {
        std::optional<Account> account;
        RateLimitGate::Decision limit;
        std::optional<T> value;
    };
    withDatabase<Outcome>(
        exchange,
        [this, hash = hashAccessToken(token), now = now(),
         more = std::move(more)]() -> DatabaseResult<Outcome> {
            Outcome outcome;
            if (m_rateLimiter.countsInDatabase()) {
                // The token and the shared count in one round trip.
                auto found = m_database.accountForRequest(hash, now, m_rateLimiter.countPrefix(),
                                                          now / kRequestWindowSeconds);
                if (!found)
                    return std::unexpected(found.error());
                if (!found->account)
                    return outcome;
                outcome.account = found->account;
                outcome.limit = m_rateLimiter.decide(found->count, now);
            } else {
                auto account = m_database.accountForToken(hash, now);
                if (!account)
                    return std::unexpected(account.error());
                if (!*account)
                    return outcome;
                outcome.account = **account;
                outcome.limit = m_rateLimiter.check(std::to_string(outcome.account->id), now);
            }
            if (outcome.limit.verdict != RateLimitGate::Verdict::allowed)
                return outcome;
            auto value = more(*outcome.account);
            if (!value)
                return std::unexpected(value.error());
            outcome.value = std::move(*value);
            return outcome;
        },
        [this, exchange, then = std::move(then)](Outcome outcome) {
            if (!outcome.account)
                return respondError(exchange, 401, "登录已失效，请重新登录。");
            exchange->log.user = outcome.account->username;
            if (!admit(exchange, outcome.limit, "请求过于频繁，请稍后再试。"))
                return;
            then(*outcome.account, std::move(*outcome.value));
        });
}

} // namespace aurelo::service
