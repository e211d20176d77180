#include "viewmodels/PageZoom.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

// A step rounds to tenths and stays in 50 %…200 %; the label names where the next step lands.
TEST(PageZoom, StepsRoundToTenthsStayInRangeAndLabelTheNextStep) {
    struct Case {
        double zoom, delta, expected;
        const char* label;
    } cases[] = {
        {1.0, 0.1, 1.1, "110%"},  {1.0, -0.1, 0.9, "90%"},  {2.0, 0.1, 2.0, "200%"},
        {0.5, -0.1, 0.5, "50%"},  {1.04, 0.1, 1.1, "110%"}, {0.3, 0.0, 0.5, "50%"},
        {1.96, 0.0, 2.0, "200%"}, {0.7, -0.1, 0.6, "60%"},  {1.9, 0.1, 2.0, "200%"},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(PageZoom::stepped(c.zoom, c.delta), c.expected)
            << c.zoom << " " << c.delta;
        EXPECT_EQ(PageZoom::nextZoomLabel(c.zoom, c.delta), c.label) << c.zoom << " " << c.delta;
    }
}

} // namespace
} // namespace aurelo
