#pragma once

// The login to the managed service: the bearer token (kept in the keychain), the user name
// (kept in the user defaults) and the engines the administrator enabled for the account.

#include "models/KeychainStore.hpp"
#include "platform/Cancellable.hpp"
#include "platform/HttpSession.hpp"
#include "platform/UserDefaults.hpp"
#include "translation/TranslationError.hpp"

#include <sigc++/sigc++.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace aurelo {

struct RemoteEngine {
    std::string provider; // raw value of a TranslationProvider; the engine's identity
    std::string label;
    std::optional<std::string> model;

    const std::string& id() const { return provider; }
    friend bool operator==(const RemoteEngine&, const RemoteEngine&) = default;
};

class AccountStore {
public:
    // EnginesRead: the service answered for the engine list, whether or not it changed.
    enum class Field {
        IsLoggedIn,
        Username,
        AvailableEngines,
        ErrorMessage,
        IsWorking,
        EngineListError,
        EnginesRead
    };

    static constexpr std::string_view kUsernameKey = "aureloTranslator.username";
    static constexpr std::chrono::seconds kRequestTimeout{60};

    // The managed service at aureloServiceURL() through the shared 60 s session.
    AccountStore(UserDefaults& defaults, KeychainStore& keychain);
    AccountStore(UserDefaults& defaults, KeychainStore& keychain, std::string origin,
                 HttpSession& session);
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;
    ~AccountStore();

    bool isLoggedIn() const { return m_isLoggedIn; }
    const std::string& username() const { return m_username; }
    const std::vector<RemoteEngine>& availableEngines() const { return m_availableEngines; }
    const std::string& errorMessage() const { return m_errorMessage; }
    // The last engine-list failure ("无法读取可用翻译引擎：…") while it is the latest word on the
    // list: shown while logged in, where the engine is chosen. Unlike `errorMessage`, which the
    // login view shows and a later success leaves alone, a list that reads again clears it.
    const std::string& engineListError() const { return m_engineListError; }
    bool isWorking() const { return m_isWorking; }
    // The login button is enabled when both fields hold something (spaces count) and no login
    // runs.
    static bool loginButtonEnabled(const std::string& username, const std::string& password,
                                   bool isWorking) {
        return !username.empty() && !password.empty() && !isWorking;
    }
    const std::string& token() const { return m_token; }

    // `done` runs on the main loop when the operation has finished (after the engine list, for
    // a successful login). Both are dropped silently when the store is destroyed first.
    void login(const std::string& username, const std::string& password,
               std::function<void()> done = {});
    void refreshEngines(std::function<void()> done = {});
    // Logs out here at once, and asks the service to revoke the token (not waiting for it).
    void logout();

    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

    // The wire forms, for the store and its tests.
    static std::expected<std::vector<RemoteEngine>, DecodingError>
    decodeEngineResponse(std::string_view body);

private:
    void setLoggedIn(bool value);
    void setUsername(std::string value);
    void setAvailableEngines(std::vector<RemoteEngine> engines);
    void setErrorMessage(std::string value);
    void setEngineListError(std::string value);
    void setWorking(bool value);
    void finishLogin(const HttpResult& result, const std::string& username,
                     std::function<void()> done);
    // Step 7 of a login from the keychain write on; a locked keyring is offered for unlocking
    // when `mayAskToUnlock`, and the write tried once more after.
    void saveTokenAndFinish(const std::string& username, std::function<void()> done,
                            bool mayAskToUnlock);
    void revokeOnService(const std::string& token);
    // Forgets the login here: token, user name, engines.
    void clearLogin();

    UserDefaults& m_defaults;
    KeychainStore& m_keychain;
    std::string m_origin;
    HttpSession& m_session;
    Cancellable m_cancellable;

    bool m_isLoggedIn = false;
    std::string m_username;
    std::vector<RemoteEngine> m_availableEngines;
    std::string m_errorMessage;
    std::string m_engineListError;
    bool m_isWorking = false;
    std::string m_token;

    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo
