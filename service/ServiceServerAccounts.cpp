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

namespace {

constexpr const char* kTooManyLogins = "登录尝试过于频繁，请稍后再试。";

} // namespace

void ServiceServer::handleLogin(const ExchangePtr& exchange) {
    // The body is read first, but refusals come in the order of the checks: the address's
    // limit, the body, the user name's limit, the password.
    std::optional<std::string> bodyError;
    std::string username, password;
    if (auto body = json::parseValue(exchange->text()); !body || !body->is_object()) {
        bodyError = kBadJson;
    } else {
        auto name = stringMember(*body, "username");
        auto secret = stringMember(*body, "password");
        if (!name || !secret || name->empty() || secret->empty())
            bodyError = "请输入用户名和密码。";
        else
            username = std::move(*name), password = std::move(*secret);
    }
    // Guessing one user's password from many addresses is slowed as well. Unknown names count
    // too, so the answer does not tell which names exist.
    // The key is cut at a character boundary: a shared store refuses text that is not UTF-8.
    std::string userKey = username.substr(0, 128);
    const gchar* valid = nullptr;
    g_utf8_validate(userKey.data(), static_cast<gssize>(userKey.size()), &valid);
    userKey.resize(static_cast<std::size_t>(valid - userKey.data()));

    struct Lookup {
        RateLimitGate::Decision address;
        RateLimitGate::Decision user;
        std::optional<UserRecord> found;
    };
    withDatabase<Lookup>(
        exchange,
        [this, remote = exchange->log.remote, checkUser = !bodyError, userKey, username,
         now = now()]() -> DatabaseResult<Lookup> {
            Lookup lookup;
            lookup.address = m_loginLimiter.check(remote, now);
            if (lookup.address.verdict != RateLimitGate::Verdict::allowed || !checkUser)
                return lookup;
            lookup.user = m_loginUserLimiter.check(userKey, now);
            // No account name holds a NUL (the admin command refuses control characters), and
            // PostgreSQL would cut the name at it and look up another account.
            if (lookup.user.verdict != RateLimitGate::Verdict::allowed ||
                username.find('\0') != std::string::npos)
                return lookup;
            auto user = m_database.findUser(username);
            if (!user)
                return std::unexpected(user.error());
            lookup.found = std::move(*user);
            return lookup;
        },
        [this, exchange, bodyError, password = std::move(password)](Lookup lookup) mutable {
            if (!admit(exchange, lookup.address, kTooManyLogins))
                return;
            if (bodyError)
                return respondError(exchange, 400, *bodyError);
            if (!admit(exchange, lookup.user, kTooManyLogins))
                return;
            checkPassword(exchange, std::move(password), std::move(lookup.found));
        });
}

void ServiceServer::checkPassword(const ExchangePtr& exchange, std::string password,
                                  std::optional<UserRecord> user) {
    // The password function costs tens of milliseconds of CPU: run it off the main loop.
    struct Check {
        std::string password;
        std::optional<UserRecord> user;
        bool matches = false;
    };
    auto check = std::make_shared<Check>(Check{std::move(password), std::move(user), false});
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
            withDatabase<bool>(
                exchange,
                [this, userId = check->user->id, hash = hashAccessToken(token), issued,
                 expires]() -> DatabaseResult<bool> {
                    if (auto stored = m_database.storeToken(userId, hash, issued, expires); !stored)
                        return std::unexpected(stored.error());
                    return true;
                },
                [this, exchange, token, username = check->user->username](bool) {
                    exchange->log.user = username;
                    respond(exchange, 200,
                            {{"token", token},
                             {"expiresIn", m_configuration.tokenLifetime.count()}});
                });
        });
    if (!accepted) {
        // Every hashing thread is busy and the queue is full: waiting longer would only hold
        // more connections open.
        setRetryAfter(exchange, 5);
        respondError(exchange, 503, "登录请求过多，请稍后再试。");
    }
}

void ServiceServer::handleLogout(const ExchangePtr& exchange) {
    std::string token = bearerToken(exchange->message.get());
    if (token.empty())
        return respondError(exchange, 401, "登录已失效，请重新登录。");
    withDatabase<std::optional<Account>>(
        exchange,
        [this, hash = hashAccessToken(token), now = now()]() -> DatabaseResult<std::optional<Account>> {
            auto account = m_database.accountForToken(hash, now);
            if (!account || !*account)
                return account;
            if (auto revoked = m_database.revokeToken(hash); !revoked)
                return std::unexpected(revoked.error());
            return account;
        },
        [this, exchange](std::optional<Account> account) {
            if (!account)
                return respondError(exchange, 401, "登录已失效，请重新登录。");
            exchange->log.user = account->username;
            exchange->answered = true;
            soup_server_message_set_status(exchange->message.get(), 204, nullptr);
            exchange->log.status = 204;
            finish(exchange);
        });
}

void ServiceServer::handleEngines(const ExchangePtr& exchange) {
    authenticated<std::vector<EngineRecord>>(
        exchange, [this](const Account& account) { return m_database.engines(account.id); },
        [this, exchange](const Account&, std::vector<EngineRecord> engines) {
            nlohmann::json list = nlohmann::json::array();
            for (const auto& engine : engines) {
                // A row edited by hand with a provider the client does not know would make the
                // client reject the whole list; leave it out instead.
                if (!translationProviderFromRawValue(engine.provider))
                    continue;
                nlohmann::json entry = {{"provider", engine.provider}, {"label", engine.label}};
                if (engine.model && !engine.model->empty())
                    entry["model"] = *engine.model;
                list.push_back(std::move(entry));
            }
            respond(exchange, 200, {{"engines", list}});
        });
}

} // namespace aurelo::service
