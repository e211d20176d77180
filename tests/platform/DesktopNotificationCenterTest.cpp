// Which desktop settings page opens, and what the presence of a notification service means.

#include "platform/DesktopNotificationCenter.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

using Command = std::vector<std::string>;

TEST(DesktopNotificationCenter, SettingsCommandFollowsTheDesktop) {
    const std::pair<const char*, Command> table[] = {
        {"GNOME", {"gnome-control-center", "notifications"}},
        {"ubuntu:GNOME", {"gnome-control-center", "notifications"}},
        {"GNOME-Classic:GNOME", {"gnome-control-center", "notifications"}},
        {"Budgie:GNOME", {"budgie-control-center", "notifications"}},
        {"KDE", {"systemsettings", "kcm_notifications"}},
        {"kde", {"systemsettings", "kcm_notifications"}},
        {"X-Cinnamon", {"cinnamon-settings", "notifications"}},
        {"XFCE", {"xfce4-notifyd-config"}},
        // Unknown desktops, window managers and odd values open nothing.
        {"sway", {}},
        {"", {}},
        {":", {}},
        {"GNOMEish", {}},
        {"gnome; rm -rf ~", {}},
    };
    for (const auto& [desktop, command] : table)
        EXPECT_EQ(DesktopNotificationCenter::notificationSettingsCommand(desktop), command)
            << desktop;
}

TEST(DesktopNotificationCenter, GnomeKeysTheApplicationSwitchByACanonicalID) {
    EXPECT_EQ(DesktopNotificationCenter::gnomeApplicationSettingsPath("com.aurelo.translator"),
              "/org/gnome/desktop/notifications/application/com-aurelo-translator/");
    EXPECT_EQ(DesktopNotificationCenter::gnomeApplicationSettingsPath("Org.Foo__Bar-2"),
              "/org/gnome/desktop/notifications/application/org-foo-bar-2/");
}

} // namespace
} // namespace aurelo
