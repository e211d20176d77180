// The size the main window opens with on the screens it meets.

#include "viewmodels/WindowGeometry.hpp"

#include <gtest/gtest.h>

namespace aurelo::test {
namespace {

TEST(WindowGeometryTest, OpensWithinTheMonitorLessPanelAndTitleBar) {
    struct Case {
        const char* name;
        WindowSize monitor;
        WindowSize expected;
    };
    const Case cases[] = {
        {"full HD keeps the default", {1920, 1080}, {1580, 980}},
        {"office laptop", {1366, 768}, {1366, 690}},
        {"HD", {1280, 720}, {1280, 642}},
        {"default exactly fits", {1580, 1058}, {1580, 980}},
        {"a screen smaller than the minimum gets the minimum", {800, 600}, {960, 600}},
        {"unknown monitor", {0, 0}, {1580, 980}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WindowGeometry::openingSize(c.monitor), c.expected) << c.name;
}

TEST(WindowGeometryTest, TheMinimumFitsALaptopUnderAPanelAndTitleBar) {
    const WindowSize laptop = WindowGeometry::openingSize({1366, 768});
    EXPECT_LE(WindowGeometry::kMinimumSize.width, laptop.width);
    EXPECT_LE(WindowGeometry::kMinimumSize.height, laptop.height);
    EXPECT_LE(laptop.height + WindowGeometry::kPanelAllowance + WindowGeometry::kTitleBarAllowance,
              768);
}

} // namespace
} // namespace aurelo::test
