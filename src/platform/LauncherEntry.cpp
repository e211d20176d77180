#include "platform/LauncherEntry.hpp"

#include "platform/BuildConfig.hpp"

namespace aurelo {

struct LauncherEntry::State {
    std::string applicationURI;
    GRef<GDBusConnection> connection;
    bool visible = false;
    std::int64_t count = 0;
    bool pending = false; // a badge was set before the bus was ready
};

std::string LauncherEntry::applicationURI() {
    return std::string("application://") + build::kApplicationId + ".desktop";
}

LauncherEntry::LauncherEntry(std::string applicationURI)
    : m_state(std::make_shared<State>()), m_cancellable(adoptGRef(g_cancellable_new())) {
    m_state->applicationURI = std::move(applicationURI);
    g_bus_get(G_BUS_TYPE_SESSION, m_cancellable.get(), busReadyCallback,
              new std::weak_ptr<State>(m_state));
}

LauncherEntry::~LauncherEntry() {
    g_cancellable_cancel(m_cancellable.get());
}

void LauncherEntry::busReadyCallback(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::weak_ptr<State>> weak(static_cast<std::weak_ptr<State>*>(data));
    GErrorHolder error;
    auto connection = adoptGRef(g_bus_get_finish(result, error.out()));
    auto state = weak->lock();
    if (!state || !connection)
        return; // Gone, or no session bus: no badge, and nothing to report.
    state->connection = std::move(connection);
    if (state->pending)
        emit(*state);
}

void LauncherEntry::show(const std::optional<std::string>& label, std::int64_t count) {
    m_state->visible = label.has_value() && count > 0;
    m_state->count = m_state->visible ? count : 0;
    m_state->pending = true;
    if (m_state->connection)
        emit(*m_state);
}

void LauncherEntry::emit(State& state) {
    state.pending = false;
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "count", g_variant_new_int64(state.count));
    g_variant_builder_add(&properties, "{sv}", "count-visible",
                          g_variant_new_boolean(state.visible));
    // A bus that has gone away loses the badge, which is all it could do.
    g_dbus_connection_emit_signal(
        state.connection.get(), nullptr, kObjectPath, kInterface, "Update",
        g_variant_new("(sa{sv})", state.applicationURI.c_str(), &properties), nullptr);
}

} // namespace aurelo
