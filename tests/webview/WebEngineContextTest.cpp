#include "webview/WebEngineContext.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

// Software rendering is where memory is saved: its web processes release what they can rebuild
// at every check. The network process, one for every account, keeps the high limit either way.
// (The context takes the limits through a write-only property, so they are checked here.)
TEST(WebEngineContext, LimitsFollowTheRendering) {
    EXPECT_EQ(WebEngineContext::limitsFor(Rendering::Software),
              (WebEngineContext::MemoryLimits{40, 768}));
    EXPECT_EQ(WebEngineContext::limitsFor(Rendering::Hardware),
              (WebEngineContext::MemoryLimits{768, 768}));
}

} // namespace
} // namespace aurelo
