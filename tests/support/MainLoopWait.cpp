#include "support/MainLoopWait.hpp"

#include <glib.h>

namespace aurelo::test {

bool runMainLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    // Wakes the loop so that the condition and the deadline are looked at even when nothing
    // else happens.
    const guint ticker = g_timeout_add(
        20, [](gpointer) { return gboolean(G_SOURCE_CONTINUE); }, nullptr);
    bool held = condition();
    while (!held && std::chrono::steady_clock::now() < end) {
        g_main_context_iteration(nullptr, TRUE);
        held = condition();
    }
    g_source_remove(ticker);
    return held;
}

void runMainLoopFor(std::chrono::milliseconds duration) {
    runMainLoopUntil([] { return false; }, duration);
}

} // namespace aurelo::test
