#pragma once

// Hibernation bound to the window: the accounts and their delays come from the session store,
// the account on show from the window's state; an account that falls asleep loses its unread
// count (a sleeping page reports none, and an old number would be a lie). The page stack drops
// the pages of sleeping accounts and builds them again when they wake.

#include "models/SessionStore.hpp"
#include "viewmodels/PageHibernation.hpp"

#include <sigc++/sigc++.h>

#include <functional>
#include <optional>
#include <string>

namespace aurelo {

class AccountHibernation {
public:
    using Clock = PageHibernation::Clock;
    using ShownSession = std::function<std::optional<std::string>()>;

    AccountHibernation(SessionStore& store, ShownSession shownSession);
    AccountHibernation(const AccountHibernation&) = delete;
    AccountHibernation& operator=(const AccountHibernation&) = delete;
    ~AccountHibernation();

    // Reads the sessions and the account on show again (the window calls it when either
    // changes).
    void refresh(Clock::time_point now = Clock::now());
    // Puts the accounts whose delay has passed to sleep (the window's timer calls it).
    void tick(Clock::time_point now = Clock::now());
    // "立即休眠".
    void hibernateNow(const std::string& sessionID);
    // The account was selected (again): it wakes if asleep.
    void wake(const std::string& sessionID, Clock::time_point now = Clock::now());

    bool isHibernated(const std::string& sessionID) const {
        return m_hibernation.isHibernated(sessionID);
    }
    // The tab's word for a sleeping account.
    static constexpr const char* kHibernatedLabel = "休眠中";

    // Emitted with the account that fell asleep or woke.
    sigc::signal<void(const std::string&)>& signalChanged() {
        return m_hibernation.signalChanged();
    }

private:
    SessionStore& m_store;
    ShownSession m_shownSession;
    PageHibernation m_hibernation;
    sigc::connection m_storeConnection;
    sigc::connection m_changeConnection;
};

} // namespace aurelo
