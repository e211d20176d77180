#pragma once

#include <chrono>
#include <functional>

namespace aurelo::test {

// Runs the default GLib main context until `condition` holds or `deadline` passes. Returns
// whether the condition held.
bool runMainLoopUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Runs the default main context for `duration`, handling whatever arrives meanwhile.
void runMainLoopFor(std::chrono::milliseconds duration);

} // namespace aurelo::test
