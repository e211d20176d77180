#include "viewmodels/PageHibernation.hpp"

#include <algorithm>

namespace aurelo {

void PageHibernation::setSessions(const std::vector<ChatSession>& sessions, Clock::time_point now) {
    std::map<std::string, Account> accounts;
    for (const auto& session : sessions) {
        Account account{validHibernationMinutes(session.autoHibernateMinutes), now};
        if (auto it = m_accounts.find(session.id); it != m_accounts.end()) {
            account.hiddenSince = it->second.hiddenSince;
            // A delay that was just switched on counts from now, not from when the account was
            // last shown: turning the option on must not put pages to sleep under the user.
            if (!it->second.minutes && account.minutes)
                account.hiddenSince = now;
        }
        accounts.emplace(session.id, account);
    }
    std::erase_if(m_hibernated, [&](const std::string& id) { return !accounts.contains(id); });
    if (m_shown && !accounts.contains(*m_shown))
        m_shown.reset();
    m_accounts = std::move(accounts);
}

void PageHibernation::setShown(const std::optional<std::string>& sessionID, Clock::time_point now) {
    // The same account again changes nothing: an account put to sleep while on show stays
    // asleep until it is selected again (wake) or another one is shown first.
    if (m_shown == sessionID)
        return;
    if (m_shown)
        if (auto it = m_accounts.find(*m_shown); it != m_accounts.end())
            it->second.hiddenSince = now;
    m_shown = sessionID;
    if (sessionID)
        wake(*sessionID, now);
}

std::optional<PageHibernation::Clock::time_point>
PageHibernation::dueTime(const std::string& id, const Account& account) const {
    if (!account.minutes || m_hibernated.contains(id) || m_shown == id)
        return std::nullopt;
    return account.hiddenSince + std::chrono::minutes(*account.minutes);
}

bool PageHibernation::tick(Clock::time_point now) {
    std::vector<std::string> due;
    for (const auto& [id, account] : m_accounts)
        if (auto when = dueTime(id, account); when && *when <= now)
            due.push_back(id);
    for (const auto& id : due) {
        m_hibernated.insert(id);
        m_changed.emit(id);
    }
    return !due.empty();
}

bool PageHibernation::hibernateNow(const std::string& sessionID) {
    if (!m_accounts.contains(sessionID) || !m_hibernated.insert(sessionID).second)
        return false;
    m_changed.emit(sessionID);
    return true;
}

bool PageHibernation::wake(const std::string& sessionID, Clock::time_point now) {
    if (m_hibernated.erase(sessionID) == 0)
        return false;
    if (auto it = m_accounts.find(sessionID); it != m_accounts.end())
        it->second.hiddenSince = now;
    m_changed.emit(sessionID);
    return true;
}

bool PageHibernation::isHibernated(const std::string& sessionID) const {
    return m_hibernated.contains(sessionID);
}

std::optional<PageHibernation::Clock::time_point> PageHibernation::nextDue() const {
    std::optional<Clock::time_point> next;
    for (const auto& [id, account] : m_accounts)
        if (auto when = dueTime(id, account); when && (!next || *when < *next))
            next = when;
    return next;
}

} // namespace aurelo
