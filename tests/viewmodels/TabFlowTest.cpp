#include "viewmodels/TabFlow.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

constexpr double kSpacing = 7;

TEST(TabFlow, WrapsWhenTheNextTabWouldPassTheEdge) {
    std::vector<TabSize> tabs(3, TabSize{100, 30});
    // After two tabs x is 214 (two widths and two spacings); 214 + 100 > 214 starts a new row.
    auto size = measureTabFlow(tabs, 214.0, kSpacing);
    EXPECT_DOUBLE_EQ(size.width, 214);
    EXPECT_DOUBLE_EQ(size.height, 2 * 30 + kSpacing);

    auto positions = placeTabFlow(tabs, 10, 5, 10 + 214, kSpacing);
    ASSERT_EQ(positions.size(), 3u);
    EXPECT_DOUBLE_EQ(positions[0].x, 10);
    EXPECT_DOUBLE_EQ(positions[1].x, 117);
    EXPECT_DOUBLE_EQ(positions[1].y, 5);
    EXPECT_DOUBLE_EQ(positions[2].x, 10);
    EXPECT_DOUBLE_EQ(positions[2].y, 5 + 30 + kSpacing);
}

TEST(TabFlow, ExactFitStaysOnTheRow) {
    // 100 + 7 + 100 = 207 fits a width of 207.
    std::vector<TabSize> tabs(2, TabSize{100, 30});
    EXPECT_DOUBLE_EQ(measureTabFlow(tabs, 207.0, kSpacing).height, 30);
    EXPECT_DOUBLE_EQ(measureTabFlow(tabs, 206.0, kSpacing).height, 67);
}

TEST(TabFlow, NoProposalMeansEightHundredAndEmptyMeansZeroHeight) {
    std::vector<TabSize> tabs(7, TabSize{100, 40});
    auto size = measureTabFlow(tabs, std::nullopt, kSpacing);
    EXPECT_DOUBLE_EQ(size.width, 800);
    EXPECT_DOUBLE_EQ(size.height, 40) << "7 × 107 − 7 = 742 fits in 800";
    auto empty = measureTabFlow({}, 300.0, kSpacing);
    EXPECT_DOUBLE_EQ(empty.width, 300);
    EXPECT_DOUBLE_EQ(empty.height, 0);
}

TEST(TabFlow, AnOverWideTabIsPlacedAtTheLeftOfTheFirstRow) {
    std::vector<TabSize> tabs{{500, 44}};
    auto size = measureTabFlow(tabs, 200.0, kSpacing);
    EXPECT_DOUBLE_EQ(size.height, 44);
    auto positions = placeTabFlow(tabs, 0, 0, 200, kSpacing);
    EXPECT_DOUBLE_EQ(positions[0].x, 0);
    EXPECT_DOUBLE_EQ(positions[0].y, 0);
}

TEST(TabFlow, RowHeightIsTheTallestTabOfTheRow) {
    std::vector<TabSize> tabs{{50, 20}, {50, 35}, {50, 10}};
    auto size = measureTabFlow(tabs, 110.0, kSpacing);
    EXPECT_DOUBLE_EQ(size.height, 35 + kSpacing + 10);
    auto positions = placeTabFlow(tabs, 0, 0, 110, kSpacing);
    EXPECT_DOUBLE_EQ(positions[2].y, 35 + kSpacing);
}

} // namespace
} // namespace aurelo
