#include "webview/PageNotifications.hpp"

#include <gio/gio.h>

#include <charconv>
#include <system_error>

namespace aurelo {

namespace {

constexpr std::string_view kKeyPrefix = "page-";

std::string keyFor(guint64 id) {
    return std::string(kKeyPrefix) + std::to_string(id);
}

GApplication* registeredApplication() {
    GApplication* application = g_application_get_default();
    return application && g_application_get_is_registered(application) ? application : nullptr;
}

} // namespace

PageNotifications::Entry::Entry(std::string id, WebKitNotification* shown, WebKitWebView* page)
    : sessionID(std::move(id)), notification(shown) {
    g_weak_ref_init(&view, page);
}

PageNotifications::Entry::~Entry() {
    g_weak_ref_clear(&view);
}

PageNotifications::PageNotifications(AccountLookup lookup) : m_lookup(std::move(lookup)) {}

PageNotifications::~PageNotifications() {
    for (auto& [id, entry] : m_entries)
        g_signal_handlers_disconnect_by_data(entry.notification.get(), this);
}

std::string PageNotifications::titleFor(const std::string& accountName,
                                        const std::string& pageTitle) {
    return pageTitle.empty() ? accountName : accountName + " · " + pageTitle;
}

std::optional<guint64> PageNotifications::idOf(const std::string& key) {
    if (!key.starts_with(kKeyPrefix))
        return std::nullopt;
    guint64 id = 0;
    const char* first = key.data() + kKeyPrefix.size();
    const char* last = key.data() + key.size();
    const auto [end, error] = std::from_chars(first, last, id);
    if (error != std::errc() || end != last || first == last)
        return std::nullopt;
    return id;
}

bool PageNotifications::show(const std::string& sessionID, WebKitWebView* view,
                             WebKitNotification* notification) {
    GApplication* application = registeredApplication();
    const auto account = m_lookup ? m_lookup(sessionID) : std::nullopt;
    if (!application || !account)
        return false;
    const char* title = webkit_notification_get_title(notification);
    const char* body = webkit_notification_get_body(notification);
    const guint64 id = webkit_notification_get_id(notification);

    auto desktop =
        adoptGRef(g_notification_new(titleFor(account->name, title ? title : "").c_str()));
    if (body && *body)
        g_notification_set_body(desktop.get(), body);
    std::error_code error;
    if (!account->logo.empty() && std::filesystem::is_regular_file(account->logo, error)) {
        auto file = adoptGRef(g_file_new_for_path(account->logo.c_str()));
        auto icon = adoptGRef(g_file_icon_new(file.get()));
        g_notification_set_icon(desktop.get(), icon.get());
    }
    g_notification_set_default_action_and_target_value(desktop.get(),
                                                       (std::string("app.") + kActionName).c_str(),
                                                       g_variant_new_string(keyFor(id).c_str()));
    forget(id, false); // shown again under the same id: the desktop replaces it
    g_application_send_notification(application, keyFor(id).c_str(), desktop.get());
    g_signal_connect(notification, "closed", G_CALLBACK(closedCallback), this);
    m_entries.try_emplace(id, sessionID, notification, view);
    while (m_entries.size() > kMaximumKept)
        forget(m_entries.begin()->first, true);
    return true;
}

std::optional<std::string> PageNotifications::sessionFor(const std::string& key) const {
    const auto id = idOf(key);
    const auto it = id ? m_entries.find(*id) : m_entries.end();
    return it == m_entries.end() ? std::nullopt : std::optional(it->second.sessionID);
}

void PageNotifications::clicked(const std::string& key) {
    const auto id = idOf(key);
    const auto it = id ? m_entries.find(*id) : m_entries.end();
    if (it == m_entries.end())
        return;
    // Held here: the page's click handler may close the notification, which forgets it.
    const auto notification = it->second.notification;
    const auto view = adoptGRef(static_cast<WebKitWebView*>(g_weak_ref_get(&it->second.view)));
    forget(*id, false); // the desktop takes a clicked notification away itself
    if (view)
        gtk_widget_grab_focus(GTK_WIDGET(view.get()));
    webkit_notification_clicked(notification.get());
}

void PageNotifications::closedCallback(WebKitNotification* notification, gpointer self) {
    static_cast<PageNotifications*>(self)->forget(webkit_notification_get_id(notification), true);
}

void PageNotifications::forget(guint64 id, bool withdraw) {
    const auto it = m_entries.find(id);
    if (it == m_entries.end())
        return;
    g_signal_handlers_disconnect_by_data(it->second.notification.get(), this);
    m_entries.erase(it);
    if (withdraw)
        if (GApplication* application = registeredApplication())
            g_application_withdraw_notification(application, keyFor(id).c_str());
}

} // namespace aurelo
