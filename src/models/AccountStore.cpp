#include "models/AccountStore.hpp"

#include "platform/MainLoop.hpp"
#include "translation/AureloServiceURL.hpp"
#include "translation/JsonCoding.hpp"

namespace aurelo {

namespace {

const std::string kTokenAccount(KeychainStore::kLoginTokenAccount);
constexpr const char* kEngineListFailure = "无法读取可用翻译引擎：";

bool isSuccess(unsigned status) {
    return status >= 200 && status <= 299;
}
// libsoup reports a status below 100 only when no HTTP answer was read at all.
bool isHttpAnswer(unsigned status) {
    return status >= 100;
}

struct LoginResponse {
    std::optional<std::string> token;
    std::optional<std::string> error;
};

std::expected<LoginResponse, DecodingError> decodeLoginResponse(std::string_view body) {
    auto object = json::parseObject(body);
    if (!object)
        return std::unexpected(object.error());
    auto token = json::optionalString(*object, "token");
    if (!token)
        return std::unexpected(token.error());
    auto error = json::optionalString(*object, "error");
    if (!error)
        return std::unexpected(error.error());
    return LoginResponse{std::move(*token), std::move(*error)};
}

void runLater(std::function<void()> done) {
    if (done)
        postToMainLoop(std::move(done));
}

} // namespace

AccountStore::AccountStore(UserDefaults& defaults, KeychainStore& keychain)
    : AccountStore(defaults, keychain, aureloServiceURL(), sharedHttpSession()) {}

AccountStore::AccountStore(UserDefaults& defaults, KeychainStore& keychain, std::string origin,
                           HttpSession& session)
    : m_defaults(defaults), m_keychain(keychain), m_origin(std::move(origin)), m_session(session) {
    auto token = keychain.load(kTokenAccount);
    m_token = token && *token ? **token : std::string();
    m_username = defaults.string(kUsernameKey).value_or("");
    m_isLoggedIn = !m_token.empty();
    if (m_isLoggedIn) {
        const CancellationToken cancellation = m_cancellable.token();
        postToMainLoop([this, cancellation] {
            if (!cancellation.isCancelled())
                refreshEngines();
        });
    }
}

AccountStore::~AccountStore() {
    m_cancellable.cancel();
}

std::expected<std::vector<RemoteEngine>, DecodingError>
AccountStore::decodeEngineResponse(std::string_view body) {
    auto object = json::parseObject(body);
    if (!object)
        return std::unexpected(object.error());
    auto list = object->find("engines");
    if (list == object->end() || list->is_null())
        return std::unexpected(DecodingError::keyNotFound("engines"));
    if (!list->is_array())
        return std::unexpected(DecodingError::typeMismatch("engines"));
    std::vector<RemoteEngine> engines;
    for (const auto& item : *list) {
        if (!item.is_object())
            return std::unexpected(DecodingError::typeMismatch("engines"));
        auto provider = json::requiredString(item, "provider");
        if (!provider)
            return std::unexpected(provider.error());
        auto label = json::requiredString(item, "label");
        if (!label)
            return std::unexpected(label.error());
        auto model = json::optionalString(item, "model");
        if (!model)
            return std::unexpected(model.error());
        engines.push_back({std::move(*provider), std::move(*label), std::move(*model)});
    }
    return engines;
}

void AccountStore::login(const std::string& username, const std::string& password,
                         std::function<void()> done) {
    setWorking(true);
    setErrorMessage("");

    HttpRequest request;
    request.method = "POST";
    request.url = serviceEndpoint(m_origin, "/api/auth/login");
    request.headers = {{"Content-Type", "application/json"}};
    // serialize() never fails: text that is not UTF-8 is sent with replacement characters.
    request.body = json::serialize(json::Json{{"username", username}, {"password", password}});
    request.contentType = "application/json";
    request.timeout = kRequestTimeout;

    const CancellationToken cancellation = m_cancellable.token();
    m_session.send(
        request,
        [this, cancellation, username, done = std::move(done)](HttpResult result) mutable {
            if (cancellation.isCancelled())
                return;
            finishLogin(result, username, std::move(done));
        },
        m_cancellable.get());
}

void AccountStore::finishLogin(const HttpResult& result, const std::string& username,
                               std::function<void()> done) {
    auto fail = [&](std::string message) {
        setErrorMessage(std::move(message));
        setWorking(false);
        if (done)
            done();
    };
    if (!result)
        return fail(result.error().description);
    if (!isHttpAnswer(result->status))
        return fail(TranslationError::invalidResponse().description());
    // The body is decoded before the status is looked at: an error page that is not JSON
    // reports the decoding error.
    auto response = decodeLoginResponse(result->body);
    if (!response)
        return fail(response.error().description);
    if (!isSuccess(result->status) || !response->token)
        return fail(TranslationError::server(response->error.value_or("登录失败")).description());

    m_token = *response->token;
    setUsername(username);
    saveTokenAndFinish(username, std::move(done), true);
}

void AccountStore::saveTokenAndFinish(const std::string& username, std::function<void()> done,
                                      bool mayAskToUnlock) {
    if (auto saved = m_keychain.save(m_token, kTokenAccount); !saved) {
        // A locked keyring: the desktop asks the user to unlock it, once for this login; the
        // error is shown only when they cancel (or it stays locked).
        if (saved.error().locked && mayAskToUnlock) {
            const CancellationToken cancellation = m_cancellable.token();
            const std::string token = m_token;
            m_keychain.unlock([this, cancellation, token, username, done = std::move(done),
                               error = saved.error()](bool unlocked) mutable {
                if (cancellation.isCancelled())
                    return;
                if (unlocked && token == m_token)
                    return saveTokenAndFinish(username, std::move(done), false);
                setErrorMessage(error.description());
                setWorking(false);
                if (done)
                    done();
            });
            return;
        }
        setErrorMessage(saved.error().description());
        setWorking(false);
        if (done)
            done();
        return;
    }
    (void)m_defaults.set(kUsernameKey, username);
    setLoggedIn(true);

    const CancellationToken cancellation = m_cancellable.token();
    refreshEngines([this, cancellation, done = std::move(done)] {
        if (cancellation.isCancelled())
            return;
        setWorking(false);
        if (done)
            done();
    });
}

void AccountStore::refreshEngines(std::function<void()> done) {
    if (m_token.empty())
        return runLater(std::move(done));

    HttpRequest request;
    request.method = "GET";
    request.url = serviceEndpoint(m_origin, "/api/engines");
    request.headers = {{"Authorization", "Bearer " + m_token}};
    request.timeout = kRequestTimeout;

    const CancellationToken cancellation = m_cancellable.token();
    std::string token = m_token;
    m_session.send(
        request,
        [this, cancellation, token, done = std::move(done)](HttpResult result) {
            if (cancellation.isCancelled())
                return;
            // An answer about a token that is no longer ours (a logout, or a login as someone
            // else, happened meanwhile) must neither log the new login out nor give it the old
            // account's engines.
            if (token == m_token) {
                auto fail = [this](const std::string& description) {
                    setErrorMessage(kEngineListFailure + description);
                    setEngineListError(kEngineListFailure + description);
                };
                if (!result) {
                    if (result.error().kind != TransportError::Kind::Cancelled)
                        fail(result.error().description);
                } else if (!isHttpAnswer(result->status) || !isSuccess(result->status)) {
                    // The service no longer knows the token: nothing to revoke there.
                    clearLogin();
                } else if (auto engines = decodeEngineResponse(result->body); !engines) {
                    fail(engines.error().description);
                } else {
                    setEngineListError("");
                    setAvailableEngines(std::move(*engines));
                    m_changed.emit(Field::EnginesRead);
                }
            }
            if (done)
                done();
        },
        m_cancellable.get());
}

void AccountStore::logout() {
    if (!m_token.empty())
        revokeOnService(m_token);
    clearLogin();
}

void AccountStore::revokeOnService(const std::string& token) {
    // Ends the token on the service as well, so that a copy of it left behind (a backup of the
    // keychain, another program) is worth nothing. The local logout does not wait for the
    // answer, and a failure (offline, a service without this request) changes nothing.
    HttpRequest request;
    request.method = "POST";
    request.url = serviceEndpoint(m_origin, "/api/auth/logout");
    request.headers = {{"Authorization", "Bearer " + token}};
    request.timeout = kRequestTimeout;
    m_session.send(
        request, [](HttpResult) {}, m_cancellable.get());
}

void AccountStore::clearLogin() {
    m_token.clear();
    setEngineListError("");
    setUsername("");
    setAvailableEngines({});
    setLoggedIn(false);
    (void)m_keychain.save("", kTokenAccount);
    (void)m_defaults.remove(kUsernameKey);
}

void AccountStore::setLoggedIn(bool value) {
    if (m_isLoggedIn == value)
        return;
    m_isLoggedIn = value;
    m_changed.emit(Field::IsLoggedIn);
}

void AccountStore::setUsername(std::string value) {
    if (m_username == value)
        return;
    m_username = std::move(value);
    m_changed.emit(Field::Username);
}

void AccountStore::setAvailableEngines(std::vector<RemoteEngine> engines) {
    if (m_availableEngines == engines)
        return;
    m_availableEngines = std::move(engines);
    m_changed.emit(Field::AvailableEngines);
}

void AccountStore::setErrorMessage(std::string value) {
    if (m_errorMessage == value)
        return;
    m_errorMessage = std::move(value);
    m_changed.emit(Field::ErrorMessage);
}

void AccountStore::setEngineListError(std::string value) {
    if (m_engineListError == value)
        return;
    m_engineListError = std::move(value);
    m_changed.emit(Field::EngineListError);
}

void AccountStore::setWorking(bool value) {
    if (m_isWorking == value)
        return;
    m_isWorking = value;
    m_changed.emit(Field::IsWorking);
}

} // namespace aurelo
