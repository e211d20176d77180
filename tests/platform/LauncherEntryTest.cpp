#include "platform/LauncherEntry.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace aurelo {
namespace {

// Records launcher updates in GVariant's text form, as a dock receives them. The bus hands a
// signal to every connection that asked for it, its sender's included, so the listener may share
// the process's connection.
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
    std::vector<std::string> updates;

private:
    static void updateCallback(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GVariant* parameters, gpointer self) {
        gchar* text = g_variant_print(parameters, FALSE);
        static_cast<DockListener*>(self)->updates.emplace_back(text);
        g_free(text);
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
    entry.show(std::nullopt, 0);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return dock.updates.size() == 2; }));
    EXPECT_EQ(dock.updates, (std::vector<std::string>{
                                "('application://com.aurelo.translator.desktop', "
                                "{'count': <int64 1000>, 'count-visible': <true>})",
                                "('application://com.aurelo.translator.desktop', "
                                "{'count': <int64 0>, 'count-visible': <false>})",
                            }));
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
