#include "viewmodels/WindowGeometry.hpp"

#include <algorithm>

namespace aurelo {

WindowSize WindowGeometry::openingSize(WindowSize monitor) {
    if (monitor.width <= 0 || monitor.height <= 0)
        return kDefaultSize;
    const int width = std::min(kDefaultSize.width, monitor.width);
    const int height =
        std::min(kDefaultSize.height, monitor.height - kPanelAllowance - kTitleBarAllowance);
    return {std::max(width, kMinimumSize.width), std::max(height, kMinimumSize.height)};
}

} // namespace aurelo
