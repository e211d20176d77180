#pragma once

#include <string>

namespace aurelo {

// The page zoom steps of the window's menu and the host's tolerance.
namespace pageZoom {

inline constexpr double kMinimum = 0.5;
inline constexpr double kMaximum = 2.0;
inline constexpr double kTolerance = 0.001;

double zoomedIn(double zoom);
double zoomedOut(double zoom);
// "110%" for a step of +0.1 at 1.0; the label of what the step would give.
std::string nextZoomLabel(double zoom, double step);
// Whether the view's zoom must be set: only a change larger than the tolerance counts.
bool needsChange(double current, double wanted);

} // namespace pageZoom

} // namespace aurelo
