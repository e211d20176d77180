#include "platform/DesktopNotificationCenter.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

using Command = std::vector<std::string>;

TEST(DesktopNotificationCenter, SettingsCommandFollowsTheDesktop) {
    const std::pair<std::vector<const char*>, Command> table[] = {
        {{"GNOME", "ubuntu:GNOME", "GNOME-Classic:GNOME"},
         {"gnome-control-center", "notifications"}},
        {{"Budgie:GNOME"}, {"budgie-control-center", "notifications"}},
        {{"KDE", "kde"}, {"systemsettings", "kcm_notifications"}},
        {{"X-Cinnamon"}, {"cinnamon-settings", "notifications"}},
        {{"XFCE"}, {"xfce4-notifyd-config"}},
        // Unknown desktops, window managers and odd values open nothing.
        {{"sway", "", ":", "GNOMEish", "gnome; rm -rf ~"}, {}},
    };
    for (const auto& [desktops, command] : table)
        for (const char* desktop : desktops)
            EXPECT_EQ(DesktopNotificationCenter::notificationSettingsCommand(desktop), command)
                << desktop;
}

} // namespace
} // namespace aurelo
