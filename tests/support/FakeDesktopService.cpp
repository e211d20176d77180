#include "support/FakeDesktopService.hpp"

#include <mutex>

namespace aurelo::test {

// Shared with the bus filter, which GDBus may still be running when the service goes.
struct FakeDesktopService::State {
    std::string name;
    std::string objectPath;
    std::function<GVariant*(const std::string&)> reply;
    std::mutex mutex;
    std::vector<RecordedCall> calls;

    static GDBusMessage* filter(GDBusConnection* bus, GDBusMessage* message, gboolean incoming,
                                gpointer data) {
        auto& state = **static_cast<std::shared_ptr<State>*>(data);
        if (!incoming ||
            g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL ||
            g_strcmp0(g_dbus_message_get_path(message), state.objectPath.c_str()) != 0 ||
            g_strcmp0(g_dbus_message_get_interface(message), state.name.c_str()) != 0)
            return message;
        const std::string method = g_dbus_message_get_member(message);
        {
            std::lock_guard lock(state.mutex);
            state.calls.push_back({method, GRef<GVariant>(g_dbus_message_get_body(message))});
        }
        auto reply = adoptGRef(g_dbus_message_new_method_reply(message));
        if (GVariant* body = state.reply ? state.reply(method) : nullptr)
            g_dbus_message_set_body(reply.get(), body);
        g_dbus_connection_send_message(bus, reply.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                       nullptr);
        g_object_unref(message);
        // The test waits on the main thread's loop; wake it so that it sees the call.
        g_main_context_wakeup(nullptr);
        return nullptr;
    }
};

FakeDesktopService::FakeDesktopService(std::string name, std::string objectPath,
                                       std::function<GVariant*(const std::string&)> reply)
    : m_state(new State{std::move(name), std::move(objectPath), std::move(reply), {}, {}}),
      m_bus(adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr))) {
    if (!m_bus)
        return;
    m_filter = g_dbus_connection_add_filter(
        m_bus.get(), State::filter, new std::shared_ptr<State>(m_state),
        [](gpointer data) { delete static_cast<std::shared_ptr<State>*>(data); });
    // 2: replace an owner that allows it; the answer 1: we are the primary owner.
    auto owner = adoptGRef(g_dbus_connection_call_sync(
        m_bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", m_state->name.c_str(), 2u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
    guint32 answer = 0;
    if (owner)
        g_variant_get(owner.get(), "(u)", &answer);
    m_owned = answer == 1;
}

FakeDesktopService::~FakeDesktopService() {
    if (!m_bus)
        return;
    g_dbus_connection_remove_filter(m_bus.get(), m_filter);
    auto released = adoptGRef(g_dbus_connection_call_sync(
        m_bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "ReleaseName", g_variant_new("(s)", m_state->name.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr, nullptr));
}

std::vector<RecordedCall> FakeDesktopService::calls() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->calls;
}

std::vector<ShownNotification> FakeDesktopService::notified() const {
    std::vector<ShownNotification> found;
    for (const auto& call : calls()) {
        if (call.method != "Notify")
            continue;
        const char *summary = nullptr, *body = nullptr, *imagePath = nullptr;
        GVariant* hints = nullptr;
        g_variant_get(call.parameters.get(), "(&su&s&s&s@as@a{sv}i)", nullptr, nullptr, nullptr,
                      &summary, &body, nullptr, &hints, nullptr);
        g_variant_lookup(hints, "image-path", "&s", &imagePath);
        found.push_back({summary, body, imagePath ? imagePath : ""});
        g_variant_unref(hints);
    }
    return found;
}

void FakeDesktopService::clickNotification(guint32 id) {
    auto bus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    g_dbus_connection_emit_signal(bus.get(), nullptr, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications", "ActionInvoked",
                                  g_variant_new("(us)", id, "default"), nullptr);
}

FakeDesktopService FakeDesktopService::fileManager() {
    return FakeDesktopService("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                              nullptr);
}

FakeDesktopService FakeDesktopService::notifications() {
    return FakeDesktopService("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                              [](const std::string& method) -> GVariant* {
                                  const char* capabilities[] = {"body", "actions", nullptr};
                                  if (method == "Notify")
                                      return g_variant_new("(u)", 1u);
                                  if (method == "GetCapabilities")
                                      return g_variant_new("(^as)", capabilities);
                                  if (method == "GetServerInformation")
                                      return g_variant_new("(ssss)", "fake", "aurelo", "1", "1.2");
                                  return nullptr;
                              });
}

} // namespace aurelo::test
