#include "platform/InMemorySecretStore.hpp"

namespace aurelo {

SecretResult<std::optional<std::string>> InMemorySecretStore::lookup(const std::string& account) {
    ++m_lookups;
    if (auto it = m_failures.find(Operation::Lookup); it != m_failures.end())
        return std::unexpected(it->second);
    auto it = m_items.find(account);
    if (it == m_items.end())
        return std::optional<std::string>();
    return std::optional<std::string>(it->second);
}

SecretResult<void> InMemorySecretStore::remove(const std::string& account) {
    if (auto it = m_failures.find(Operation::Remove); it != m_failures.end())
        return std::unexpected(it->second);
    m_items.erase(account);
    return {};
}

SecretResult<void> InMemorySecretStore::add(const std::string& account, const std::string& value) {
    if (auto it = m_failures.find(Operation::Add); it != m_failures.end())
        return std::unexpected(it->second);
    m_items[account] = value;
    return {};
}

void InMemorySecretStore::setFailure(Operation operation, std::optional<SecretStoreError> error) {
    if (error)
        m_failures[operation] = std::move(*error);
    else
        m_failures.erase(operation);
}

} // namespace aurelo
