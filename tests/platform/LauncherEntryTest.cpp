#include "platform/LauncherEntry.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace aurelo {
namespace {

struct Update {
    std::string uri;
    std::int64_t count = -1;
    bool visible = false;
};

// Listens for launcher updates as a dock would. The bus hands a signal to every connection that
// asked for it, its sender's included, so the listener may share the process's connection.
class DockListener {
public:
    DockListener() : m_connection(adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr))) {
        if (m_connection)
            m_subscription = g_dbus_connection_signal_subscribe(
                m_connection.get(), nullptr, LauncherEntry::kInterface, "Update", nullptr, nullptr,
                G_DBUS_SIGNAL_FLAGS_NONE, updateCallback, this, nullptr);
    }
    ~DockListener() {
        if (m_connection)
            g_dbus_connection_signal_unsubscribe(m_connection.get(), m_subscription);
    }
    bool connected() const { return static_cast<bool>(m_connection); }
    std::vector<Update> updates;

private:
    static void updateCallback(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GVariant* parameters, gpointer self) {
        Update update;
        const gchar* uri = nullptr;
        GVariantIter* properties = nullptr;
        g_variant_get(parameters, "(&sa{sv})", &uri, &properties);
        update.uri = uri;
        const gchar* key = nullptr;
        GVariant* value = nullptr;
        while (g_variant_iter_loop(properties, "{&sv}", &key, &value)) {
            if (g_str_equal(key, "count"))
                update.count = g_variant_get_int64(value);
            else if (g_str_equal(key, "count-visible"))
                update.visible = g_variant_get_boolean(value);
        }
        g_variant_iter_free(properties);
        static_cast<DockListener*>(self)->updates.push_back(update);
    }

    GRef<GDBusConnection> m_connection;
    guint m_subscription = 0;
};

TEST(LauncherEntryTest, SendsCountAndVisibilityForOurDesktopFile) {
    DockListener dock;
    ASSERT_TRUE(dock.connected());
    LauncherEntry entry;
    // Set before the bus connection is ready: it must still arrive.
    entry.show("1000", 1000);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return dock.updates.size() == 1; }));
    EXPECT_EQ(dock.updates[0].uri, "application://com.aurelo.translator.desktop");
    EXPECT_EQ(dock.updates[0].count, 1000);
    EXPECT_TRUE(dock.updates[0].visible);

    entry.show(std::nullopt, 0);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return dock.updates.size() == 2; }));
    EXPECT_FALSE(dock.updates[1].visible);
}

TEST(LauncherEntryTest, DestroyedBeforeTheBusAnswersIsHarmless) {
    {
        LauncherEntry entry;
        entry.show("2", 2);
    }
    test::runMainLoopFor(std::chrono::milliseconds(100));
}

TEST(WithoutSessionBus, TheBadgeIsSilentlyAbsent) {
    if (!std::getenv("AURELO_TEST_WITHOUT_BUS"))
        GTEST_SKIP() << "runs as the platform_without_bus test";
    LauncherEntry entry;
    entry.show("5", 5);
    test::runMainLoopFor(std::chrono::milliseconds(200));
}

} // namespace
} // namespace aurelo
