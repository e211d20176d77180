#pragma once

// The application's secrets (login token, lock passwords, provider keys) as items of one
// service, keyed by account name. Built over a SecretStore: the Secret Service in the
// application, memory in tests.

#include "platform/SecretStore.hpp"

#include <sigc++/sigc++.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

class KeychainStore {
public:
    struct KeychainError {
        std::int32_t status = 0;
        // The platform's text for the status; may be empty.
        std::string message;
        // The keyring is locked; KeychainStore::unlock may help.
        bool locked = false;

        // The platform's text, or "Keychain error <status>" when it has none.
        std::string description() const;
        friend bool operator==(const KeychainError&, const KeychainError&) = default;
    };

    static constexpr std::string_view kLoginTokenAccount = "aurelo-translator-login-token";
    static constexpr std::string_view kAppLockAccountPrefix = "aurelo-translator-app-lock-";
    static constexpr std::string_view kProxyPasswordAccountPrefix = "aurelo-translator-proxy-";

    explicit KeychainStore(SecretStore& backend) : m_backend(backend) {}
    KeychainStore(const KeychainStore&) = delete;
    KeychainStore& operator=(const KeychainStore&) = delete;

    // The stored string, or nullopt when there is no item or its bytes are not UTF-8.
    std::expected<std::optional<std::string>, KeychainError> load(const std::string& account) const;

    // Replaces the account's item with `value`; an empty value only removes it. Values are
    // stored unchanged. When the removal fails nothing is added, so a stale value can never sit
    // beside the new one; when the add fails the old item is already gone.
    std::expected<void, KeychainError> save(const std::string& value, const std::string& account);

    // Asks the desktop to unlock the keyring with its own prompt; `done` runs once on the main
    // loop with whether it is unlocked now. Callers ask at most once per action the user started,
    // so a user who cancels is not asked again until they try again.
    void unlock(std::function<void(bool unlocked)> done) { m_backend.unlock(std::move(done)); }

    // "aurelo-translator-app-lock-" + the user name trimmed and lower-cased ("local-user" when
    // nothing is left).
    static std::string appLockAccount(std::string_view username);
    // "aurelo-translator-proxy-" + the session id in upper case (its canonical UUID form).
    static std::string proxyPasswordAccount(std::string_view sessionID);

    // Emitted after every save that changed what is stored, with the account and the value now
    // stored ("" when the account has no item any more). Lets holders of a copy keep it current
    // without reading the keychain again.
    sigc::signal<void(const std::string& account, const std::string& value)>& signalStored() {
        return m_stored;
    }

private:
    SecretStore& m_backend;
    sigc::signal<void(const std::string&, const std::string&)> m_stored;
};

} // namespace aurelo
