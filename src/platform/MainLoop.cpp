#include "platform/MainLoop.hpp"

#include <glib.h>

#include <memory>

namespace aurelo {

namespace {

gboolean runPostedTaskCallback(gpointer data) {
    std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(data));
    (*task)();
    return G_SOURCE_REMOVE;
}

} // namespace

void postToMainLoop(std::function<void()> task) {
    g_idle_add_full(G_PRIORITY_DEFAULT, runPostedTaskCallback,
                    new std::function<void()>(std::move(task)), nullptr);
}

} // namespace aurelo
