#include "support/BadgeListener.hpp"

#include "platform/LauncherEntry.hpp"

namespace aurelo::test {

BadgeListener::BadgeListener()
    : m_connection(adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr))) {
    if (m_connection)
        m_subscription = g_dbus_connection_signal_subscribe(
            m_connection.get(), nullptr, LauncherEntry::kInterface, "Update", nullptr, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, updateCallback, this, nullptr);
}

BadgeListener::~BadgeListener() {
    if (m_connection)
        g_dbus_connection_signal_unsubscribe(m_connection.get(), m_subscription);
}

void BadgeListener::updateCallback(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                   const gchar*, GVariant* parameters, gpointer self) {
    auto& listener = *static_cast<BadgeListener*>(self);
    gchar* text = g_variant_print(parameters, FALSE);
    listener.updates.emplace_back(text);
    g_free(text);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv})")))
        return;
    const auto properties = adoptGRef(g_variant_get_child_value(parameters, 1));
    gint64 count = 0;
    if (g_variant_lookup(properties.get(), "count", "x", &count))
        listener.counts.push_back(count);
}

} // namespace aurelo::test
