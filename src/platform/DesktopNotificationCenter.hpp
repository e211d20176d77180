#pragma once

// Notifications on a freedesktop desktop. There is no per-application permission prompt: a
// notification is shown when a notification service owns org.freedesktop.Notifications on the
// session bus (GNOME Shell, Plasma, dunst, mako, xfce4-notifyd …), so that is what the status
// reports.

#include "platform/Cancellable.hpp"
#include "platform/GRef.hpp"
#include "platform/NotificationCenter.hpp"

#include <gio/gio.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

class DesktopNotificationCenter final : public NotificationCenter {
public:
    static constexpr const char* kNotificationServiceName = "org.freedesktop.Notifications";

    // `serviceName` is the bus name that stands for the notification service; tests use a name
    // of their own. `desktop` is the value of XDG_CURRENT_DESKTOP.
    explicit DesktopNotificationCenter(std::string serviceName = kNotificationServiceName,
                                       std::optional<std::string> desktop = currentDesktop());
    ~DesktopNotificationCenter() override;
    DesktopNotificationCenter(const DesktopNotificationCenter&) = delete;
    DesktopNotificationCenter& operator=(const DesktopNotificationCenter&) = delete;

    void
    readAuthorizationStatus(std::function<void(NotificationAuthorizationStatus)> done) override;
    void requestAuthorization(std::function<void()> done) override;
    void openNotificationSettings() override;

    // The status for whether the service name has an owner; nullopt when the bus could not be
    // asked.
    static NotificationAuthorizationStatus statusForServiceOwner(std::optional<bool> hasOwner);

    // The GSettings path of GNOME's per-application notification switch for an application id:
    // lower case, every character other than a-z, 0-9 and "-" made a "-", runs of "-" joined.
    static std::string gnomeApplicationSettingsPath(std::string_view applicationID);
    // Whether the user switched this application's notifications off in GNOME's settings; false
    // where GNOME's schema is not installed.
    static bool disabledInGnomeSettings(std::string_view applicationID);

    // The program and arguments that open the notification settings of the desktop named by
    // XDG_CURRENT_DESKTOP (a colon-separated list, most specific first); empty when the desktop
    // has no such page we know of.
    static std::vector<std::string> notificationSettingsCommand(std::string_view desktop);

    static std::optional<std::string> currentDesktop();

private:
    struct PendingRead;
    static void busReadyCallback(GObject* source, GAsyncResult* result, gpointer data);
    static void nameHasOwnerCallback(GObject* source, GAsyncResult* result, gpointer data);

    std::string m_serviceName;
    std::optional<std::string> m_desktop;
    Cancellable m_cancellable;
};

} // namespace aurelo
