#pragma once

// The arithmetic of the account tab bar: tabs keep their ideal size and wrap into left-aligned
// rows. Kept apart from the layout manager so that it can be checked without a display.

#include <optional>
#include <span>
#include <vector>

namespace aurelo {

struct TabSize {
    double width = 0;
    double height = 0;
};

struct TabPosition {
    double x = 0;
    double y = 0;
};

// The size the tabs ask for within `proposedWidth` (800 when none is proposed): the full
// width, and the height of all rows with `spacing` between them.
TabSize measureTabFlow(std::span<const TabSize> tabs, std::optional<double> proposedWidth,
                       double spacing);

// The top-left corner of every tab inside the rectangle starting at (minX, minY) and ending at
// maxX. The first tab of a row is always placed, even when it is wider than the row.
std::vector<TabPosition> placeTabFlow(std::span<const TabSize> tabs, double minX, double minY,
                                      double maxX, double spacing);

} // namespace aurelo
