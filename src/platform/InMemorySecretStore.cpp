#include "platform/InMemorySecretStore.hpp"

#include "platform/MainLoop.hpp"

namespace aurelo {

namespace {

SecretStoreError lockedMemoryError() {
    return {2, "密钥环已锁定。", true};
}

} // namespace

InMemorySecretStore& InMemorySecretStore::operator=(InMemorySecretStore&& other) noexcept {
    m_items = std::move(other.m_items);
    m_failures = std::move(other.m_failures);
    m_lookups = other.m_lookups;
    m_locked = other.m_locked;
    m_unlockAnswer = other.m_unlockAnswer;
    m_unlockRequests = other.m_unlockRequests;
    m_cancellable.renew();
    return *this;
}

SecretResult<std::optional<std::string>> InMemorySecretStore::lookup(const std::string& account) {
    ++m_lookups;
    if (m_locked)
        return std::unexpected(lockedMemoryError());
    if (auto it = m_failures.find(Operation::Lookup); it != m_failures.end())
        return std::unexpected(it->second);
    auto it = m_items.find(account);
    if (it == m_items.end())
        return std::optional<std::string>();
    return std::optional<std::string>(it->second);
}

SecretResult<void> InMemorySecretStore::remove(const std::string& account) {
    if (m_locked)
        return std::unexpected(lockedMemoryError());
    if (auto it = m_failures.find(Operation::Remove); it != m_failures.end())
        return std::unexpected(it->second);
    m_items.erase(account);
    return {};
}

SecretResult<void> InMemorySecretStore::add(const std::string& account, const std::string& value) {
    if (m_locked)
        return std::unexpected(lockedMemoryError());
    if (auto it = m_failures.find(Operation::Add); it != m_failures.end())
        return std::unexpected(it->second);
    m_items[account] = value;
    return {};
}

void InMemorySecretStore::unlock(std::function<void(bool unlocked)> done) {
    ++m_unlockRequests;
    postToMainLoop([this, cancellation = m_cancellable.token(), done = std::move(done)] {
        if (cancellation.isCancelled())
            return;
        if (m_unlockAnswer)
            m_locked = false;
        done(m_unlockAnswer);
    });
}

void InMemorySecretStore::setFailure(Operation operation, std::optional<SecretStoreError> error) {
    if (error)
        m_failures[operation] = std::move(*error);
    else
        m_failures.erase(operation);
}

} // namespace aurelo
