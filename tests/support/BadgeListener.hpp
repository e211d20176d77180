#pragma once

// Records the launcher entry's updates on the session bus, as a dock receives them.

#include "platform/GRef.hpp"
#include "platform/LauncherEntry.hpp"

#include <gio/gio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace aurelo::test {

// The bus hands a signal to every connection that asked for it, its sender's included, so the
// listener may share the process's connection with the entry it watches.
class BadgeListener {
public:
    BadgeListener() : m_bus(adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr))) {
        if (m_bus)
            m_subscription = g_dbus_connection_signal_subscribe(
                m_bus.get(), nullptr, LauncherEntry::kInterface, "Update", nullptr, nullptr,
                G_DBUS_SIGNAL_FLAGS_NONE, updateCallback, this, nullptr);
    }
    BadgeListener(const BadgeListener&) = delete;
    BadgeListener& operator=(const BadgeListener&) = delete;
    ~BadgeListener() {
        if (m_bus)
            g_dbus_connection_signal_unsubscribe(m_bus.get(), m_subscription);
    }
    bool connected() const { return static_cast<bool>(m_bus); }

    std::vector<std::string> updates; // each in GVariant's text form
    std::vector<std::int64_t> counts; // of the updates that carry one

private:
    static void updateCallback(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GVariant* parameters, gpointer self) {
        auto& listener = *static_cast<BadgeListener*>(self);
        gchar* text = g_variant_print(parameters, FALSE);
        listener.updates.emplace_back(text);
        g_free(text);
        gint64 count = 0;
        if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv})")) &&
            g_variant_lookup(adoptGRef(g_variant_get_child_value(parameters, 1)).get(), "count",
                             "x", &count))
            listener.counts.push_back(count);
    }

    GRef<GDBusConnection> m_bus;
    guint m_subscription = 0;
};

} // namespace aurelo::test
