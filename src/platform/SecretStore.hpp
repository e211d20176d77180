#pragma once

// The primitive operations of a secret store keyed by account name within one service:
// look an item up, remove all items of the account, add one. The keychain semantics (empty
// values delete, delete before add, UTF-8 checks) are built on top of these in KeychainStore.

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>

namespace aurelo {

struct SecretStoreError {
    // The platform's code for the failure (the GError code for libsecret and D-Bus failures).
    std::int32_t status = 0;
    // The platform's text for it; may be empty.
    std::string message;
    // The store is locked: unlocking it (see SecretStore::unlock) may let the operation succeed.
    bool locked = false;

    friend bool operator==(const SecretStoreError&, const SecretStoreError&) = default;
};

template <typename T> using SecretResult = std::expected<T, SecretStoreError>;

class SecretStore {
public:
    virtual ~SecretStore() = default;

    // The stored bytes of the account's item, or nullopt when there is none.
    virtual SecretResult<std::optional<std::string>> lookup(const std::string& account) = 0;
    // Removes every item of the account. Nothing to remove is success.
    virtual SecretResult<void> remove(const std::string& account) = 0;
    // Adds an item holding `value` (the bytes of a UTF-8 string).
    virtual SecretResult<void> add(const std::string& account, const std::string& value) = 0;
    // Asks the desktop to unlock the store, with its own unlock prompt, for an operation that
    // failed as locked. `done` runs once on the main loop with whether the store is now unlocked
    // (false when the user cancelled or there is no way to ask), never inside the call; the
    // caller checks that it is still there. A store that cannot be locked answers false.
    virtual void unlock(std::function<void(bool unlocked)> done);
};

} // namespace aurelo
