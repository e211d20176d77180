#include "viewmodels/AccountHibernation.hpp"

namespace aurelo {

AccountHibernation::AccountHibernation(SessionStore& store, ShownSession shownSession)
    : m_store(store), m_shownSession(std::move(shownSession)) {
    m_storeConnection = m_store.signalChanged().connect([this](SessionStore::Field field) {
        if (field != SessionStore::Field::UnreadCounts)
            refresh();
    });
    m_changeConnection = m_hibernation.signalChanged().connect([this](const std::string& id) {
        if (m_hibernation.isHibernated(id))
            m_store.setUnreadCount(0, id);
    });
    refresh();
}

AccountHibernation::~AccountHibernation() {
    m_storeConnection.disconnect();
    m_changeConnection.disconnect();
}

void AccountHibernation::refresh(Clock::time_point now) {
    m_hibernation.setSessions(m_store.sessions(), now);
    m_hibernation.setShown(m_shownSession ? m_shownSession() : std::nullopt, now);
}

void AccountHibernation::tick(Clock::time_point now) {
    refresh(now);
    m_hibernation.tick(now);
}

void AccountHibernation::wake(const std::string& sessionID, Clock::time_point now) {
    m_hibernation.wake(sessionID, now);
}

void AccountHibernation::hibernateNow(const std::string& sessionID) {
    m_hibernation.hibernateNow(sessionID);
}

} // namespace aurelo
