#include "web/PageZoom.hpp"

#include <algorithm>
#include <cmath>

namespace aurelo::pageZoom {

namespace {

// std::round rounds half away from zero, as the menu's arithmetic wants.
double stepped(double zoom, double step) {
    return std::round((zoom + step) * 10.0) / 10.0;
}

} // namespace

double zoomedIn(double zoom) {
    return std::clamp(stepped(zoom, 0.1), kMinimum, kMaximum);
}

double zoomedOut(double zoom) {
    return std::clamp(stepped(zoom, -0.1), kMinimum, kMaximum);
}

std::string nextZoomLabel(double zoom, double step) {
    const double next = stepped(zoom, step);
    const long percent = next >= kMinimum ? std::lround(std::min(next, kMaximum) * 100.0) : 50;
    return std::to_string(percent) + "%";
}

bool needsChange(double current, double wanted) {
    return std::fabs(current - wanted) > kTolerance;
}

} // namespace aurelo::pageZoom
