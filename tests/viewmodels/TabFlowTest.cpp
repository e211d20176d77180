#include "viewmodels/TabFlow.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

constexpr double kSpacing = 7;

TEST(TabFlow, WrapsBeforeTheEdgeWithRowsAsTallAsTheirTallestTab) {
    struct Case {
        const char* name;
        std::vector<TabSize> tabs;
        std::optional<double> width;
        TabSize size;                              // measured
        std::vector<std::pair<double, double>> at; // placed from (0, 0)
    };
    const Case cases[] = {
        {"x after two tabs is 214; 214 + 100 > 214 starts a row",
         std::vector<TabSize>(3, {100, 30}),
         214,
         {214, 67},
         {{0, 0}, {107, 0}, {0, 37}}},
        {"an exact fit stays on the row", std::vector<TabSize>(2, {100, 30}), 207, {207, 30}, {}},
        {"one point less wraps", std::vector<TabSize>(2, {100, 30}), 206, {206, 67}, {}},
        {"no proposal means 800", std::vector<TabSize>(7, {100, 40}), std::nullopt, {800, 40}, {}},
        {"empty", {}, 300, {300, 0}, {}},
        {"an over-wide tab stays at the left", {{500, 44}}, 200, {200, 44}, {{0, 0}}},
        {"a row is as tall as its tallest tab",
         {{50, 20}, {50, 35}, {50, 10}},
         110,
         {110, 52},
         {{0, 0}, {57, 0}, {0, 42}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto size = measureTabFlow(c.tabs, c.width, kSpacing);
        EXPECT_DOUBLE_EQ(size.width, c.size.width);
        EXPECT_DOUBLE_EQ(size.height, c.size.height);
        if (c.at.empty())
            continue;
        const auto positions = placeTabFlow(c.tabs, 10, 5, 10 + *c.width, kSpacing);
        ASSERT_EQ(positions.size(), c.at.size());
        for (std::size_t i = 0; i < positions.size(); ++i) {
            EXPECT_DOUBLE_EQ(positions[i].x, 10 + c.at[i].first) << i;
            EXPECT_DOUBLE_EQ(positions[i].y, 5 + c.at[i].second) << i;
        }
    }
}

} // namespace
} // namespace aurelo
