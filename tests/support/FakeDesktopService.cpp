#include "support/FakeDesktopService.hpp"

namespace aurelo::test {

FakeDesktopService::FakeDesktopService(const std::string& busName, const std::string& objectPath,
                                       const std::string& introspectionXml,
                                       std::function<GVariant*(const std::string&)> reply)
    : m_objectPath(objectPath),
      m_node(g_dbus_node_info_new_for_xml(introspectionXml.c_str(), nullptr)),
      m_reply(std::move(reply)) {
    m_context = g_main_context_new();
    m_loop = g_main_loop_new(m_context, FALSE);
    m_thread = std::thread([this, busName] { run(busName); });
}

void FakeDesktopService::run(std::string busName) {
    g_main_context_push_thread_default(m_context);
    m_ownerId = g_bus_own_name(G_BUS_TYPE_SESSION, busName.c_str(), G_BUS_NAME_OWNER_FLAGS_REPLACE,
                               busAcquiredCallback, nameAcquiredCallback, nullptr, this, nullptr);
    g_main_loop_run(m_loop);
    if (m_registrationId)
        g_dbus_connection_unregister_object(m_bus.get(), m_registrationId);
    g_bus_unown_name(m_ownerId);
    m_bus.reset();
    while (g_main_context_iteration(m_context, FALSE)) {
    }
    g_main_context_pop_thread_default(m_context);
}

FakeDesktopService::~FakeDesktopService() {
    g_main_loop_quit(m_loop);
    m_thread.join();
    g_main_loop_unref(m_loop);
    g_main_context_unref(m_context);
    g_dbus_node_info_unref(m_node);
}

std::vector<RecordedCall> FakeDesktopService::calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

void FakeDesktopService::busAcquiredCallback(GDBusConnection* bus, const char*, gpointer data) {
    auto* self = static_cast<FakeDesktopService*>(data);
    self->m_bus = GRef<GDBusConnection>(bus);
    static const GDBusInterfaceVTable vtable = {methodCallCallback, nullptr, nullptr, {}};
    self->m_registrationId = g_dbus_connection_register_object(bus, self->m_objectPath.c_str(),
                                                               self->m_node->interfaces[0], &vtable,
                                                               self, nullptr, nullptr);
}

void FakeDesktopService::nameAcquiredCallback(GDBusConnection*, const char*, gpointer data) {
    static_cast<FakeDesktopService*>(data)->m_owned = true;
    // The test waits on the main thread's loop; wake it so that it sees the change.
    g_main_context_wakeup(nullptr);
}

void FakeDesktopService::methodCallCallback(GDBusConnection*, const char*, const char*, const char*,
                                            const char* method, GVariant* parameters,
                                            GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<FakeDesktopService*>(data);
    {
        std::lock_guard lock(self->m_mutex);
        self->m_calls.push_back({method, GRef<GVariant>(parameters)});
    }
    g_main_context_wakeup(nullptr);
    g_dbus_method_invocation_return_value(invocation,
                                          self->m_reply ? self->m_reply(method) : nullptr);
}

FakeDesktopService FakeDesktopService::fileManager() {
    return FakeDesktopService("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                              R"(<node><interface name="org.freedesktop.FileManager1">
             <method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
           </interface></node>)",
                              nullptr);
}

FakeDesktopService FakeDesktopService::notifications() {
    return FakeDesktopService("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                              R"(<node><interface name="org.freedesktop.Notifications">
             <method name="Notify">
               <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
               <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
               <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
             </method>
             <method name="CloseNotification"><arg type="u" direction="in"/></method>
             <method name="GetCapabilities"><arg type="as" direction="out"/></method>
             <method name="GetServerInformation">
               <arg type="s" direction="out"/><arg type="s" direction="out"/>
               <arg type="s" direction="out"/><arg type="s" direction="out"/>
             </method>
           </interface></node>)",
                              [](const std::string& method) -> GVariant* {
                                  if (method == "Notify")
                                      return g_variant_new("(u)", 1u);
                                  if (method == "GetCapabilities") {
                                      const char* capabilities[] = {"body", "actions", nullptr};
                                      return g_variant_new("(^as)", capabilities);
                                  }
                                  if (method == "GetServerInformation")
                                      return g_variant_new("(ssss)", "fake", "aurelo", "1", "1.2");
                                  return nullptr;
                              });
}

} // namespace aurelo::test
