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

namespace {

// What the bus callback gets: the entry, valid only while the token is not cancelled.
struct BusRequest {
    LauncherEntry* entry;
    CancellationToken cancellation;
};

} // namespace

std::string LauncherEntry::applicationURI() {
    return std::string("application://") + build::kApplicationId + ".desktop";
}

LauncherEntry::LauncherEntry(std::string applicationURI) : m_state(std::make_unique<State>()) {
    m_state->applicationURI = std::move(applicationURI);
    g_bus_get(G_BUS_TYPE_SESSION, m_cancellable.get(), busReadyCallback,
              new BusRequest{this, m_cancellable.token()});
}

LauncherEntry::~LauncherEntry() {
    m_cancellable.cancel();
}

void LauncherEntry::busReadyCallback(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<BusRequest> request(static_cast<BusRequest*>(data));
    GErrorHolder error;
    auto connection = adoptGRef(g_bus_get_finish(result, error.out()));
    if (request->cancellation.isCancelled() || !connection)
        return; // Gone, or no session bus: no badge, and nothing to report.
    State& state = *request->entry->m_state;
    state.connection = std::move(connection);
    if (state.pending)
        emit(state);
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
