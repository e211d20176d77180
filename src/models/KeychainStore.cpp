#include "models/KeychainStore.hpp"

#include "platform/Text.hpp"

#include <glib.h>

namespace aurelo {

namespace {

KeychainStore::KeychainError toKeychainError(const SecretStoreError& error) {
    return {error.status, error.message, error.locked};
}

} // namespace

std::string KeychainStore::KeychainError::description() const {
    if (!message.empty())
        return message;
    return "Keychain error " + std::to_string(status);
}

std::expected<std::optional<std::string>, KeychainStore::KeychainError>
KeychainStore::load(const std::string& account) const {
    auto bytes = m_backend.lookup(account);
    if (!bytes)
        return std::unexpected(toKeychainError(bytes.error()));
    if (!*bytes)
        return std::optional<std::string>();
    const std::string& value = **bytes;
    if (!g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr))
        return std::optional<std::string>();
    return std::optional<std::string>(value);
}

std::expected<void, KeychainStore::KeychainError> KeychainStore::save(const std::string& value,
                                                                      const std::string& account) {
    if (auto removed = m_backend.remove(account); !removed)
        return std::unexpected(toKeychainError(removed.error()));
    if (value.empty()) {
        m_stored.emit(account, "");
        return {};
    }
    if (auto added = m_backend.add(account, value); !added) {
        m_stored.emit(account, "");
        return std::unexpected(toKeychainError(added.error()));
    }
    m_stored.emit(account, value);
    return {};
}

std::string KeychainStore::appLockAccount(std::string_view username) {
    std::string name = text::trimmed(username);
    // Unicode lower case, so that "ÄNNE" and "änne" share a password as they do on screen.
    const std::string folded = text::lowercased(name);
    return std::string(kAppLockAccountPrefix) + (folded.empty() ? "local-user" : folded);
}

std::string KeychainStore::proxyPasswordAccount(std::string_view sessionID) {
    return std::string(kProxyPasswordAccountPrefix) + text::asciiUppercased(std::string(sessionID));
}

} // namespace aurelo
