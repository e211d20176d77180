#include "viewmodels/PageZoom.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

TEST(PageZoom, StepsRoundToTenthsAndStayInRange) {
    struct Case {
        double zoom, delta, expected;
    } cases[] = {
        {1.0, 0.1, 1.1}, {1.0, -0.1, 0.9}, {2.0, 0.1, 2.0}, {0.5, -0.1, 0.5},
        {1.04, 0.1, 1.1}, {0.3, 0.0, 0.5}, {1.96, 0.0, 2.0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(PageZoom::stepped(c.zoom, c.delta), c.expected) << c.zoom << " " << c.delta;
}

TEST(PageZoom, LabelsShowTheNextStep) {
    struct Case {
        double zoom, delta;
        const char* expected;
    } cases[] = {
        {1.0, 0.1, "110%"}, {1.0, -0.1, "90%"}, {2.0, 0.1, "200%"}, {0.5, -0.1, "50%"},
        {0.7, -0.1, "60%"}, {1.9, 0.1, "200%"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PageZoom::nextZoomLabel(c.zoom, c.delta), c.expected) << c.zoom << " " << c.delta;
}

} // namespace
} // namespace aurelo
