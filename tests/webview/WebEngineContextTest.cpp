#include "webview/WebEngineContext.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

// Software rendering is where memory is saved: its web processes are held lower than under GPU
// rendering. The network process, one for every account, keeps the same limit either way.
TEST(WebEngineContext, SoftwareRenderingHoldsWebProcessesLower) {
    const auto software = WebEngineContext::limitsFor(Rendering::Software);
    const auto hardware = WebEngineContext::limitsFor(Rendering::Hardware);
    EXPECT_LT(software.webProcessMB, hardware.webProcessMB);
    EXPECT_EQ(software.networkProcessMB, hardware.networkProcessMB);
}

} // namespace
} // namespace aurelo
