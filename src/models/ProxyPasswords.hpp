#pragma once

// The proxy passwords of the sessions, one keychain item each ("aurelo-translator-proxy-" + the
// session id). They never enter the defaults file: the session record holds only the user name.
// A password goes with its session: when a session leaves the list, by deletion or by a list
// replaced as a whole, its item is removed.

#include "models/KeychainStore.hpp"
#include "models/SessionStore.hpp"

#include <sigc++/sigc++.h>

#include <expected>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace aurelo {

class ProxyPasswords {
public:
    // Both must outlive this object.
    ProxyPasswords(KeychainStore& keychain, SessionStore& sessions);
    ProxyPasswords(const ProxyPasswords&) = delete;
    ProxyPasswords& operator=(const ProxyPasswords&) = delete;
    ~ProxyPasswords();

    // The session's password; "" when it has none or the keychain cannot be read (the proxy
    // then refuses the page, which says so, rather than the page going out some other way).
    std::string password(const std::string& sessionID) const;

    // Stores the password; an empty one removes the item. `sessionID` need not be in the list
    // yet: a new account's password is stored before the account is added, so that its first
    // page is already built with it.
    std::expected<void, KeychainStore::KeychainError> setPassword(const std::string& sessionID,
                                                                  const std::string& password);

    // Asks the desktop to unlock the keyring (see KeychainStore::unlock).
    void unlock(std::function<void(bool unlocked)> done) { m_keychain.unlock(std::move(done)); }

    // A session's password changed (its page must be built again).
    sigc::signal<void(const std::string& sessionID)>& signalChanged() { return m_changed; }

    // While one lives, signalChanged is held back; when the last one goes, each session whose
    // password was set meanwhile is reported once. A save that writes an account's record and
    // its password together holds one across both, so that the page, rebuilt by the record's
    // change, is rebuilt once, with both, and not first with the new password and the old proxy.
    class HeldChanges {
    public:
        explicit HeldChanges(ProxyPasswords& owner) : m_owner(owner) { ++m_owner.m_holds; }
        HeldChanges(const HeldChanges&) = delete;
        HeldChanges& operator=(const HeldChanges&) = delete;
        ~HeldChanges() { m_owner.release(); }

    private:
        ProxyPasswords& m_owner;
    };
    [[nodiscard]] HeldChanges holdChanges() { return HeldChanges(*this); }

private:
    void forgetRemovedSessions();
    void release();

    KeychainStore& m_keychain;
    SessionStore& m_sessions;
    // What the keychain holds, by session id, once read or written.
    mutable std::map<std::string, std::string> m_cache;
    std::set<std::string> m_knownSessions;
    sigc::connection m_connection;
    sigc::signal<void(const std::string&)> m_changed;
    int m_holds = 0;
    std::set<std::string> m_heldChanges;
};

} // namespace aurelo
