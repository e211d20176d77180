#pragma once

#include "platform/Cancellable.hpp"
#include "platform/SecretStore.hpp"

#include <map>

namespace aurelo {

// A secret store that lives in memory, for tests and for runs without any Secret Service.
// Failures can be injected per operation to drive the error paths of the stores above it.
class InMemorySecretStore final : public SecretStore {
public:
    enum class Operation { Lookup, Remove, Add };

    InMemorySecretStore() = default;
    // Takes on a fresh store's state (tests start over this way); answers to unlock requests
    // made before are dropped.
    InMemorySecretStore& operator=(InMemorySecretStore&& other) noexcept;

    SecretResult<std::optional<std::string>> lookup(const std::string& account) override;
    SecretResult<void> remove(const std::string& account) override;
    SecretResult<void> add(const std::string& account, const std::string& value) override;
    void unlock(std::function<void(bool unlocked)> done) override;

    // Every later call of `operation` fails with `error` until cleared with nullopt.
    void setFailure(Operation operation, std::optional<SecretStoreError> error);
    // Stores raw bytes directly, as another program could (for example bytes that are not UTF-8).
    void putRaw(const std::string& account, const std::string& bytes) { m_items[account] = bytes; }

    // A locked store: every operation fails as locked until an unlock that the user accepts.
    void setLocked(bool locked) { m_locked = locked; }
    // The user's answer to unlock prompts: true unlocks, false cancels.
    void setUnlockAnswer(bool unlock) { m_unlockAnswer = unlock; }
    std::size_t unlockRequests() const { return m_unlockRequests; }

    std::size_t lookupCount() const { return m_lookups; }
    const std::map<std::string, std::string>& items() const { return m_items; }

private:
    std::map<std::string, std::string> m_items;
    std::map<Operation, SecretStoreError> m_failures;
    std::size_t m_lookups = 0;
    bool m_locked = false;
    bool m_unlockAnswer = true;
    std::size_t m_unlockRequests = 0;
    // An unlock answer that arrives after the store is gone is dropped.
    Cancellable m_cancellable;
};

} // namespace aurelo
