#include "support/MainLoopWait.hpp"

#include <glib.h>

namespace aurelo::test {

namespace {

gboolean wakeCallback(gpointer flag) {
    *static_cast<bool*>(flag) = true;
    return G_SOURCE_REMOVE;
}

} // namespace

bool runMainLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    bool expired = false;
    guint timer = g_timeout_add(static_cast<guint>(deadline.count()), wakeCallback, &expired);
    while (!condition()) {
        if (expired)
            return false;
        g_main_context_iteration(nullptr, TRUE);
    }
    if (!expired)
        g_source_remove(timer);
    return true;
}

void runMainLoopFor(std::chrono::milliseconds duration) {
    runMainLoopUntil([] { return false; }, duration);
}

} // namespace aurelo::test
