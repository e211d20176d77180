#pragma once

#include <functional>

namespace aurelo {

// Runs `work` on a worker thread of GIO's pool and then `done` on the main loop of the calling
// thread. `work` must only touch what it owns (capture by value); `done` runs even if the owner
// that asked is gone, so it must check its owner's liveness first. Neither may throw.
void runInBackground(std::function<void()> work, std::function<void()> done);

} // namespace aurelo
