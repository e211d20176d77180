#pragma once

#include "platform/Cancellable.hpp"
#include "platform/DockBadge.hpp"
#include "platform/GRef.hpp"

#include <memory>

namespace aurelo {

// The launcher badge through the com.canonical.Unity.LauncherEntry protocol, which the docks of
// GNOME (Dash to Dock, Ubuntu Dock), KDE Plasma's task manager and Plank listen to: an "Update"
// signal on the session bus naming our .desktop file with "count" and "count-visible".
// https://wiki.ubuntu.com/Unity/LauncherAPI
//
// The protocol carries a number, not a text: the count is sent as it is and the dock renders it.
// The connection to the bus is made asynchronously; a badge set before it is ready is sent once
// it is. Without a session bus there is simply no badge.
class LauncherEntry final : public DockBadge {
public:
    static constexpr const char* kObjectPath = "/com/aurelo/translator/LauncherEntry";
    static constexpr const char* kInterface = "com.canonical.Unity.LauncherEntry";

    // "application://<application id>.desktop", the name docks know our launcher by.
    static std::string applicationURI();

    explicit LauncherEntry(std::string applicationURI = LauncherEntry::applicationURI());
    LauncherEntry(const LauncherEntry&) = delete;
    LauncherEntry& operator=(const LauncherEntry&) = delete;
    ~LauncherEntry() override;

    void show(const std::optional<std::string>& label, std::int64_t count) override;

private:
    struct State;
    static void busReadyCallback(GObject*, GAsyncResult* result, gpointer data);
    static void emit(State& state);

    std::unique_ptr<State> m_state;
    Cancellable m_cancellable;
};

} // namespace aurelo
