#include "platform/HiddenPagePolicy.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

struct HidingCase {
    Rendering rendering;
    const char* override;
    HiddenPages expected;
};

// Software rendering unmaps hidden pages (their frames are full-size images in the window's
// process); accelerated compositing keeps them mapped (remapping rebuilds the compositor). The
// support variable wins only with a value it knows.
const HidingCase kCases[] = {
    {Rendering::Software, "", HiddenPages::Unmapped},
    {Rendering::Hardware, "", HiddenPages::Transparent},
    {Rendering::Software, "opacity", HiddenPages::Transparent},
    {Rendering::Hardware, "unmapped", HiddenPages::Unmapped},
    {Rendering::Software, "unmapped", HiddenPages::Unmapped},
    {Rendering::Hardware, "opacity", HiddenPages::Transparent},
    {Rendering::Software, "Opacity", HiddenPages::Unmapped},
    {Rendering::Hardware, "unmapped ", HiddenPages::Transparent},
    {Rendering::Hardware, "hidden", HiddenPages::Transparent},
};

TEST(HiddenPagePolicy, FollowsTheRenderingUnlessSupportSaysOtherwise) {
    for (const auto& c : kCases)
        EXPECT_EQ(HiddenPagePolicy::choose(c.rendering, c.override), c.expected)
            << (c.rendering == Rendering::Software ? "software" : "hardware") << " with \""
            << c.override << '"';
}

} // namespace
} // namespace aurelo
