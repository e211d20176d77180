// The memory limits WebKit's processes get, per rendering. (The context takes them through a
// write-only property, so what it was given cannot be read back.)

#include "webview/WebEngineContext.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

struct LimitsCase {
    Rendering rendering;
    WebEngineContext::MemoryLimits expected;
};

// Software rendering is where memory is saved: its web processes release what they can rebuild
// at every check. The network process, one for every account, keeps the high limit either way,
// and GPU rendering keeps the limits it always had.
const LimitsCase kCases[] = {
    {Rendering::Software, {40, 768}},
    {Rendering::Hardware, {768, 768}},
};

TEST(WebEngineContext, LimitsFollowTheRendering) {
    for (const auto& c : kCases)
        EXPECT_EQ(WebEngineContext::limitsFor(c.rendering), c.expected)
            << (c.rendering == Rendering::Software ? "software" : "hardware");
}

} // namespace
} // namespace aurelo
