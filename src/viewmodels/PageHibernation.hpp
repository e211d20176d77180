#pragma once

// Which accounts' pages are asleep. An account with automatic hibernation ("自动休眠") that has
// not been on show for its number of minutes is put to sleep: its page is unloaded and its web
// process ends, so it costs no memory and no CPU; it reports no unread count while asleep.
// Showing the account wakes it (its page loads again). "立即休眠" puts any account to sleep at
// once. The clock is given by the caller, so a test drives hours in microseconds.

#include "models/ChatSession.hpp"

#include <sigc++/sigc++.h>

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace aurelo {

class PageHibernation {
public:
    using Clock = std::chrono::steady_clock;

    // The session list (with each one's delay) and the time it was read. Sessions new to the
    // list start awake and hidden since `now`; sessions gone from it are forgotten.
    void setSessions(const std::vector<ChatSession>& sessions, Clock::time_point now);
    // The account whose page is on show (nullopt: none, e.g. a panel covers the pages). Showing
    // another account wakes it; the one shown before starts counting from `now`.
    void setShown(const std::optional<std::string>& sessionID, Clock::time_point now);
    // Puts every account whose delay has passed to sleep; returns whether any did.
    bool tick(Clock::time_point now);
    // Puts an account to sleep now, even the one on show (its page goes; selecting it again
    // calls wake()). Returns whether it was awake.
    bool hibernateNow(const std::string& sessionID);
    // Wakes an account; its delay counts from `now`. Returns whether it was asleep.
    bool wake(const std::string& sessionID, Clock::time_point now);

    bool isHibernated(const std::string& sessionID) const;
    const std::set<std::string>& hibernated() const { return m_hibernated; }
    // When the next account falls due; nullopt when none can (every delay off, or all asleep or
    // shown). The caller's timer fires then and calls tick().
    std::optional<Clock::time_point> nextDue() const;

    // Emitted with the account whose state changed.
    sigc::signal<void(const std::string&)>& signalChanged() { return m_changed; }

private:
    struct Account {
        std::optional<int> minutes;
        Clock::time_point hiddenSince;
    };
    std::optional<Clock::time_point> dueTime(const std::string& id, const Account& account) const;

    std::map<std::string, Account> m_accounts;
    std::set<std::string> m_hibernated;
    std::optional<std::string> m_shown;
    sigc::signal<void(const std::string&)> m_changed;
};

} // namespace aurelo
