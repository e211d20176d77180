#include "viewmodels/PageZoom.hpp"

#include <algorithm>
#include <cmath>

namespace aurelo::PageZoom {

double stepped(double zoom, double delta) {
    return std::clamp(std::round((zoom + delta) * 10.0) / 10.0, kMinimum, kMaximum);
}

std::string nextZoomLabel(double zoom, double delta) {
    const double value = std::round((zoom + delta) * 10.0) / 10.0;
    const long percent = value < kMinimum ? 50 : std::lround(std::min(value, kMaximum) * 100.0);
    return std::to_string(percent) + "%";
}

} // namespace aurelo::PageZoom
