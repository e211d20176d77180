#pragma once

#include <functional>

namespace aurelo {

// Runs `task` once on the default main loop, after the current call has returned. Results that
// are known at once (a cache hit, a refused request) go through here so that a completion never
// runs inside the call that started it.
void postToMainLoop(std::function<void()> task);

} // namespace aurelo
