#pragma once

// Small helpers shared by the fuzz targets.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace aurelo::fuzz {

// The fuzzer's bytes as text.
inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Makes a GLib critical (a failed g_return_if_fail: a caller broke a precondition) or error end
// the run as a crash that the fuzzer reports, and drops warnings and messages: the code under
// test logs every refused input, which would otherwise flood the output and slow the run.
void installGLibLogPolicy();

// Stops the run with `what` when a property that must hold for every input does not.
void require(bool condition, const char* what);

} // namespace aurelo::fuzz
