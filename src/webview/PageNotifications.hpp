#pragma once

// Chat pages' own notifications, shown through the desktop under the account's name and logo;
// clicking one leads to the account and reaches the page's own click handler.

#include "platform/GRef.hpp"

#include <webkit/webkit.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace aurelo {

class PageNotifications {
public:
    // What a notification shows of its account.
    struct Account {
        std::string name;
        std::filesystem::path logo; // empty or missing: no icon
    };
    using AccountLookup = std::function<std::optional<Account>(const std::string& sessionID)>;

    // The application action a click on a notification activates, with the notification's key
    // (a string) as its parameter.
    static constexpr const char* kActionName = "page-notification";
    // Notifications still on the desktop that a click can lead back from; older ones are
    // withdrawn, so a page that notifies all day holds a bounded number.
    static constexpr std::size_t kMaximumKept = 64;

    explicit PageNotifications(AccountLookup lookup);
    PageNotifications(const PageNotifications&) = delete;
    PageNotifications& operator=(const PageNotifications&) = delete;
    ~PageNotifications();

    // "欧洲客服 · 新消息"; the account's name alone when the page gave no title.
    static std::string titleFor(const std::string& accountName, const std::string& pageTitle);

    // Shows `notification` of the session's page through the default application. False when
    // it cannot (no registered application, or an unknown account): WebKit then shows it itself.
    bool show(const std::string& sessionID, WebKitWebView* view, WebKitNotification* notification);
    // The account a click on the notification `key` leads to; nullopt for a key that is unknown
    // or gone (the page closed it).
    std::optional<std::string> sessionFor(const std::string& key) const;
    // After the window shows the account: focuses its page and hands the click to the page.
    void clicked(const std::string& key);

private:
    struct Entry {
        Entry(std::string sessionID, WebKitNotification* notification, WebKitWebView* view);
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        ~Entry();

        std::string sessionID;
        GRef<WebKitNotification> notification;
        // Weak: a notification left on the desktop must not keep a page that was rebuilt or
        // removed, and with it a web process, alive.
        GWeakRef view;
    };
    static void closedCallback(WebKitNotification* notification, gpointer self);
    // WebKit's id in a key ("page-<id>"); nullopt for anything else.
    static std::optional<guint64> idOf(const std::string& key);
    void forget(guint64 id, bool withdraw);

    AccountLookup m_lookup;
    // By WebKit's id, which grows: the first is the oldest.
    std::map<guint64, Entry> m_entries;
};

} // namespace aurelo
