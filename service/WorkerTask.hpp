#pragma once

#include <functional>

namespace aurelo::service {

// Runs `work` on a GLib worker thread and then `done` on the main loop of the calling thread.
// For CPU-bound steps (password stretching) that would otherwise stall every other request.
// `work` must not touch main-loop state; hand results over through state both lambdas share.
void runInWorker(std::function<void()> work, std::function<void()> done);

} // namespace aurelo::service
