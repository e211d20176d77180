#include "viewmodels/AccountHealth.hpp"

#include <algorithm>

namespace aurelo {

AccountHealth::AccountHealth(SessionStore& store, IsShown isShown, DoNotDisturb doNotDisturb)
    : m_store(store), m_isShown(std::move(isShown)), m_doNotDisturb(std::move(doNotDisturb)) {
    // An account that is gone has no health to show.
    m_storeConnection = m_store.signalChanged().connect([this](SessionStore::Field field) {
        if (field != SessionStore::Field::Sessions)
            return;
        std::erase_if(m_health, [&](const auto& entry) {
            return std::ranges::find(m_store.sessions(), entry.first, &ChatSession::id) ==
                   m_store.sessions().end();
        });
    });
}

AccountHealth::~AccountHealth() { m_storeConnection.disconnect(); }

void AccountHealth::report(const std::string& sessionID, const PageHealth& health) {
    const auto& sessions = m_store.sessions();
    auto session = std::ranges::find(sessions, sessionID, &ChatSession::id);
    if (session == sessions.end())
        return;
    const PageHealth previous = this->health(sessionID);
    if (previous == health)
        return;
    m_health[sessionID] = health;
    m_changed.emit(sessionID);
    // Once per break: a page that loaded again but has not stayed up yet is still in the break
    // that was announced.
    if (previous.state == PageHealthState::Healthy && !previous.settling &&
        health.state != PageHealthState::Healthy && !m_isShown(sessionID) && !m_doNotDisturb())
        m_notification.emit(sessionID, "账号“" + session->name + "”" + PageHealth::label(health.state),
                            health.line());
}

PageHealth AccountHealth::health(const std::string& sessionID) const {
    auto it = m_health.find(sessionID);
    return it == m_health.end() ? PageHealth{} : it->second;
}

std::string AccountHealth::tooltipLine(const std::string& sessionID) const {
    return "状态：" + health(sessionID).line();
}

} // namespace aurelo
