// ServiceServer's account routes: login (the password checked off the main loop), logout and the
// account's engine list.
#include "service/ServiceServer.hpp"

#include "service/AccessToken.hpp"
#include "service/PasswordHasher.hpp"
#include "service/ServiceExchange.hpp"
#include "translation/JsonCoding.hpp"
#include "translation/TranslationProvider.hpp"

#include <libsoup/soup.h>

namespace aurelo::service {

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

} // namespace aurelo::service
