#include "models/ProxyPasswords.hpp"

#include <utility>

namespace aurelo {

namespace {

std::set<std::string> sessionIDs(const SessionStore& store) {
    std::set<std::string> ids;
    for (const auto& session : store.sessions())
        ids.insert(session.id);
    return ids;
}

} // namespace

ProxyPasswords::ProxyPasswords(KeychainStore& keychain, SessionStore& sessions)
    : m_keychain(keychain), m_sessions(sessions), m_knownSessions(sessionIDs(sessions)) {
    m_connection = m_sessions.signalChanged().connect([this](SessionStore::Field field) {
        if (field == SessionStore::Field::Sessions)
            forgetRemovedSessions();
    });
}

ProxyPasswords::~ProxyPasswords() {
    m_connection.disconnect();
}

std::string ProxyPasswords::password(const std::string& sessionID) const {
    if (auto it = m_cache.find(sessionID); it != m_cache.end())
        return it->second;
    auto loaded = m_keychain.load(KeychainStore::proxyPasswordAccount(sessionID));
    // A failed read is not remembered: the keychain may be unlocked by the next time.
    if (!loaded)
        return {};
    return m_cache[sessionID] = loaded->value_or("");
}

std::expected<void, KeychainStore::KeychainError>
ProxyPasswords::setPassword(const std::string& sessionID, const std::string& password) {
    if (auto it = m_cache.find(sessionID); it != m_cache.end() && it->second == password)
        return {};
    auto saved = m_keychain.save(password, KeychainStore::proxyPasswordAccount(sessionID));
    // After a failed save the item may be gone or unchanged: read it again when next asked.
    m_cache.erase(sessionID);
    if (saved)
        m_cache[sessionID] = password;
    if (m_holds > 0)
        m_heldChanges.insert(sessionID);
    else
        m_changed.emit(sessionID);
    return saved;
}

void ProxyPasswords::release() {
    if (--m_holds > 0)
        return;
    for (const auto& sessionID : std::exchange(m_heldChanges, {}))
        m_changed.emit(sessionID);
}

void ProxyPasswords::forgetRemovedSessions() {
    std::set<std::string> now = sessionIDs(m_sessions);
    for (const auto& id : m_knownSessions)
        if (!now.contains(id)) {
            (void)m_keychain.save("", KeychainStore::proxyPasswordAccount(id));
            m_cache.erase(id);
        }
    m_knownSessions = std::move(now);
}

} // namespace aurelo
