#include "viewmodels/TabFlow.hpp"

#include <algorithm>

namespace aurelo {

TabSize measureTabFlow(std::span<const TabSize> tabs, std::optional<double> proposedWidth,
                       double spacing) {
    const double maxWidth = proposedWidth.value_or(800.0);
    double x = 0, y = 0, rowHeight = 0;
    for (const auto& tab : tabs) {
        // x already holds the spacing after the previous tab when the fit is tested.
        if (x > 0 && x + tab.width > maxWidth) {
            y += rowHeight + spacing;
            x = 0;
            rowHeight = 0;
        }
        x += tab.width + spacing;
        rowHeight = std::max(rowHeight, tab.height);
    }
    return {maxWidth, y + rowHeight};
}

std::vector<TabPosition> placeTabFlow(std::span<const TabSize> tabs, double minX, double minY,
                                      double maxX, double spacing) {
    std::vector<TabPosition> positions;
    positions.reserve(tabs.size());
    double x = minX, y = minY, rowHeight = 0;
    for (const auto& tab : tabs) {
        if (x > minX && x + tab.width > maxX) {
            x = minX;
            y += rowHeight + spacing;
            rowHeight = 0;
        }
        positions.push_back({x, y});
        x += tab.width + spacing;
        rowHeight = std::max(rowHeight, tab.height);
    }
    return positions;
}

} // namespace aurelo
