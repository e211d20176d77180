#pragma once

// The health each account's page reports, for its tab (a dot and a tooltip line), and the one
// desktop notification when an account that was fine stops being so while nobody looks at it.

#include "models/SessionStore.hpp"
#include "web/PageHealth.hpp"

#include <sigc++/sigc++.h>

#include <functional>
#include <map>
#include <string>

namespace aurelo {

class AccountHealth {
public:
    using IsShown = std::function<bool(const std::string& sessionID)>;
    using DoNotDisturb = std::function<bool()>;

    AccountHealth(SessionStore& store, IsShown isShown, DoNotDisturb doNotDisturb);
    AccountHealth(const AccountHealth&) = delete;
    AccountHealth& operator=(const AccountHealth&) = delete;
    ~AccountHealth();

    void report(const std::string& sessionID, const PageHealth& health);
    // Healthy until the page says otherwise.
    PageHealth health(const std::string& sessionID) const;
    // The tab's tooltip line: "状态：网络异常：无法连接代理 · 正在恢复".
    std::string tooltipLine(const std::string& sessionID) const;

    // Emitted with the account whose health changed.
    sigc::signal<void(const std::string&)>& signalChanged() { return m_changed; }
    // A notification to post: the account it is about, its title and its text.
    sigc::signal<void(const std::string&, const std::string&, const std::string&)>&
    signalNotification() {
        return m_notification;
    }

private:
    SessionStore& m_store;
    IsShown m_isShown;
    DoNotDisturb m_doNotDisturb;
    std::map<std::string, PageHealth> m_health;
    sigc::connection m_storeConnection;
    sigc::signal<void(const std::string&)> m_changed;
    sigc::signal<void(const std::string&, const std::string&, const std::string&)> m_notification;
};

} // namespace aurelo
