#pragma once

#include <chrono>
#include <functional>

namespace aurelo::test {

// Runs the default GLib main context until `condition` holds or `deadline` passes, and returns
// whether it held. The condition is checked after every event and at least every 20 ms, so it
// may also watch what no event announces (a file, another process, a page's state).
bool runMainLoopUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Runs the default main context for `duration`, handling whatever arrives meanwhile.
void runMainLoopFor(std::chrono::milliseconds duration);

} // namespace aurelo::test
