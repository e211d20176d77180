#pragma once

// Records the launcher entry updates on the session bus, as a dock receives them.

#include "platform/GRef.hpp"

#include <gio/gio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace aurelo::test {

// Subscribes to every "Update" of the launcher entry interface, from any sender. The bus hands a
// signal to every connection that asked for it, its sender's included, so the listener may share
// the process's connection with the entry it watches.
class BadgeListener {
public:
    BadgeListener();
    BadgeListener(const BadgeListener&) = delete;
    BadgeListener& operator=(const BadgeListener&) = delete;
    ~BadgeListener();

    bool connected() const { return static_cast<bool>(m_connection); }

    // Each update in GVariant's text form, and the count it carried (updates without one add
    // no count).
    std::vector<std::string> updates;
    std::vector<std::int64_t> counts;

private:
    static void updateCallback(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GVariant* parameters, gpointer self);

    GRef<GDBusConnection> m_connection;
    guint m_subscription = 0;
};

} // namespace aurelo::test
