#include "platform/DesktopNotificationCenter.hpp"

#include "platform/BuildConfig.hpp"
#include "platform/ForeignLaunch.hpp"
#include "platform/GRef.hpp"
#include "platform/MainLoop.hpp"
#include "platform/Text.hpp"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

namespace aurelo {

namespace {

bool isOnPath(const char* program) {
    return GCharPtr(g_find_program_in_path(program)) != nullptr;
}

} // namespace

// One status read in flight: owned by the GIO callbacks, which free it on every path.
struct DesktopNotificationCenter::PendingRead {
    std::string serviceName;
    CancellationToken cancellation;
    std::function<void(NotificationAuthorizationStatus)> done;

    // Answers unless the centre went away (it cancels its reads when destroyed).
    void finish(std::optional<bool> hasOwner) {
        if (cancellation.isCancelled())
            return;
        // GNOME Shell owns the service but drops the notifications of an application the user
        // switched off in its settings.
        if (hasOwner == true && disabledInGnomeSettings(build::kApplicationId))
            return done(NotificationAuthorizationStatus::Denied);
        done(statusForServiceOwner(hasOwner));
    }
};

DesktopNotificationCenter::DesktopNotificationCenter(std::string serviceName,
                                                     std::optional<std::string> desktop)
    : m_serviceName(std::move(serviceName)), m_desktop(std::move(desktop)) {}

DesktopNotificationCenter::~DesktopNotificationCenter() {
    m_cancellable.cancel();
}

std::optional<std::string> DesktopNotificationCenter::currentDesktop() {
    if (const char* value = std::getenv("XDG_CURRENT_DESKTOP"))
        return std::string(value);
    return std::nullopt;
}

NotificationAuthorizationStatus
DesktopNotificationCenter::statusForServiceOwner(std::optional<bool> hasOwner) {
    if (!hasOwner)
        return NotificationAuthorizationStatus::Unknown;
    // Without a notification service nothing we send is shown, and no prompt of ours can change
    // that: only the desktop can (by running one), which is what "denied" means to the settings
    // page. "Not determined" would promise that pressing the button could turn them on.
    return *hasOwner ? NotificationAuthorizationStatus::Authorized
                     : NotificationAuthorizationStatus::Denied;
}

std::string
DesktopNotificationCenter::gnomeApplicationSettingsPath(std::string_view applicationID) {
    std::string canonical;
    for (char c : text::asciiLowercased(applicationID)) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        const char next = kept ? c : '-';
        if (next == '-' && !canonical.empty() && canonical.back() == '-')
            continue;
        canonical += next;
    }
    return "/org/gnome/desktop/notifications/application/" + canonical + "/";
}

bool DesktopNotificationCenter::disabledInGnomeSettings(std::string_view applicationID) {
    constexpr const char* kSchema = "org.gnome.desktop.notifications.application";
    // Looked up first: creating settings for a schema that is not installed aborts the process.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source)
        return false;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kSchema, TRUE);
    if (!schema)
        return false;
    const bool hasKey = g_settings_schema_has_key(schema, "enable");
    g_settings_schema_unref(schema);
    if (!hasKey)
        return false;
    // A local read (dconf maps its database into memory); it does not wait on the bus.
    auto settings = adoptGRef(
        g_settings_new_with_path(kSchema, gnomeApplicationSettingsPath(applicationID).c_str()));
    return !g_settings_get_boolean(settings.get(), "enable");
}

std::vector<std::string>
DesktopNotificationCenter::notificationSettingsCommand(std::string_view desktop) {
    // The notification pages of the desktops' own settings programs. Plasma 5 named its program
    // systemsettings5 before Plasma 6 dropped the suffix; both take the module name.
    struct Entry {
        std::string_view desktop;
        std::array<std::string_view, 2> command;
    };
    static constexpr std::array<Entry, 6> kCommands{{
        {"gnome", {"gnome-control-center", "notifications"}},
        {"budgie", {"budgie-control-center", "notifications"}},
        {"kde", {"systemsettings", "kcm_notifications"}},
        {"x-cinnamon", {"cinnamon-settings", "notifications"}},
        {"xfce", {"xfce4-notifyd-config", ""}},
        {"mate", {"mate-notification-properties", ""}},
    }};
    // A colon-separated list, most specific first ("ubuntu:GNOME", "Budgie:GNOME").
    std::size_t start = 0;
    while (start <= desktop.size()) {
        std::size_t end = desktop.find(':', start);
        if (end == std::string_view::npos)
            end = desktop.size();
        const std::string name = text::asciiLowercased(desktop.substr(start, end - start));
        for (const auto& entry : kCommands) {
            if (entry.desktop != name)
                continue;
            std::vector<std::string> command;
            for (auto part : entry.command)
                if (!part.empty())
                    command.emplace_back(part);
            return command;
        }
        start = end + 1;
    }
    return {};
}

void DesktopNotificationCenter::readAuthorizationStatus(
    std::function<void(NotificationAuthorizationStatus)> done) {
    auto* pending = new PendingRead{m_serviceName, m_cancellable.token(), std::move(done)};
    g_bus_get(G_BUS_TYPE_SESSION, m_cancellable.get(), busReadyCallback, pending);
}

void DesktopNotificationCenter::busReadyCallback(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingRead> pending(static_cast<PendingRead*>(data));
    GErrorHolder error;
    auto connection = adoptGRef(g_bus_get_finish(result, error.out()));
    if (!connection) {
        pending->finish(std::nullopt);
        return;
    }
    GCancellable* cancellable = pending->cancellation.get();
    const std::string name = pending->serviceName;
    g_dbus_connection_call(
        connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, -1, cancellable, nameHasOwnerCallback, pending.release());
}

void DesktopNotificationCenter::nameHasOwnerCallback(GObject* source, GAsyncResult* result,
                                                     gpointer data) {
    std::unique_ptr<PendingRead> pending(static_cast<PendingRead*>(data));
    GErrorHolder error;
    auto reply =
        adoptGRef(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, error.out()));
    if (!reply) {
        pending->finish(std::nullopt);
        return;
    }
    gboolean hasOwner = FALSE;
    g_variant_get(reply.get(), "(b)", &hasOwner);
    pending->finish(hasOwner != FALSE);
}

void DesktopNotificationCenter::requestAuthorization(std::function<void()> done) {
    // The desktop has no permission prompt: a running notification service shows whatever an
    // application sends. The caller reads the status again afterwards.
    postToMainLoop([cancellation = m_cancellable.token(), done = std::move(done)] {
        if (!cancellation.isCancelled())
            done();
    });
}

void DesktopNotificationCenter::openNotificationSettings() {
    if (!m_desktop)
        return;
    std::vector<std::string> command = notificationSettingsCommand(*m_desktop);
    if (command.empty())
        return;
    if (command.front() == "systemsettings" && !isOnPath("systemsettings"))
        command.front() = "systemsettings5";
    std::vector<char*> argv;
    for (auto& part : command)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    // Started straight from the search path, without a shell, and without the tag that marks
    // our own audio (the settings program is not ours); GLib reaps the child. A missing
    // program is not reported: the button then simply does nothing.
    std::unique_ptr<char*, void (*)(char**)> environment(foreignEnvironment(),
                                                         [](char** list) { g_strfreev(list); });
    GErrorHolder error;
    g_spawn_async(nullptr, argv.data(), environment.get(), G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                  nullptr, error.out());
}

} // namespace aurelo
