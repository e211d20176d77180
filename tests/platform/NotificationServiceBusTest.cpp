#include "platform/BuildConfig.hpp"
#include "platform/DesktopNotificationCenter.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace aurelo {
namespace {

using namespace std::chrono_literals;
using Status = NotificationAuthorizationStatus;

constexpr const char* kServiceName = "com.aurelo.test.Notifications";

std::optional<Status> readStatus(DesktopNotificationCenter& center) {
    std::optional<Status> status;
    center.readAuthorizationStatus([&](Status answer) { status = answer; });
    EXPECT_FALSE(status) << "answers on the main loop, never inside the call";
    test::runMainLoopUntil([&] { return status.has_value(); }, 5s);
    return status;
}

TEST(NotificationService, OwnedNameIsOnAndAbsentNameIsOff) {
    if (std::getenv("AURELO_TEST_WITHOUT_BUS"))
        GTEST_SKIP() << "needs the session bus";
    DesktopNotificationCenter center(kServiceName, std::nullopt);
    EXPECT_EQ(readStatus(center), Status::Denied);

    bool acquired = false;
    const guint owner = g_bus_own_name(
        G_BUS_TYPE_SESSION, kServiceName, G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer data) { *static_cast<bool*>(data) = true; },
        nullptr, &acquired, nullptr);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return acquired; }, 5s));
    EXPECT_EQ(readStatus(center), Status::Authorized);

    // Switched off in GNOME's settings, the running service would drop them: off.
    if (GSettingsSchemaSource* source = g_settings_schema_source_get_default();
        source && std::string(g_getenv("GSETTINGS_BACKEND") ? g_getenv("GSETTINGS_BACKEND") : "") ==
                      "memory") {
        if (GSettingsSchema* schema = g_settings_schema_source_lookup(
                source, "org.gnome.desktop.notifications.application", TRUE)) {
            g_settings_schema_unref(schema);
            auto settings = adoptGRef(g_settings_new_with_path(
                "org.gnome.desktop.notifications.application",
                DesktopNotificationCenter::gnomeApplicationSettingsPath(build::kApplicationId)
                    .c_str()));
            g_settings_set_boolean(settings.get(), "enable", FALSE);
            EXPECT_EQ(readStatus(center), Status::Denied);
            g_settings_reset(settings.get(), "enable");
            EXPECT_EQ(readStatus(center), Status::Authorized);
        }
    }

    // No prompt exists: a request completes at once and the status is read again afterwards.
    bool requested = false;
    center.requestAuthorization([&] { requested = true; });
    EXPECT_FALSE(requested);
    EXPECT_TRUE(test::runMainLoopUntil([&] { return requested; }, 5s));

    g_bus_unown_name(owner);
    test::runMainLoopFor(100ms);
    EXPECT_EQ(readStatus(center), Status::Denied);
}

TEST(NotificationService, ADestroyedCentreNeverAnswers) {
    bool answered = false;
    {
        DesktopNotificationCenter center(kServiceName, std::nullopt);
        center.readAuthorizationStatus([&](Status) { answered = true; });
        center.requestAuthorization([&] { answered = true; });
    }
    test::runMainLoopFor(200ms);
    EXPECT_FALSE(answered);
}

TEST(NotificationsWithoutSessionBus, StatusIsUnknown) {
    if (!std::getenv("AURELO_TEST_WITHOUT_BUS"))
        GTEST_SKIP() << "runs only without a session bus";
    DesktopNotificationCenter center(kServiceName, std::nullopt);
    EXPECT_EQ(readStatus(center), Status::Unknown);
}

} // namespace
} // namespace aurelo
