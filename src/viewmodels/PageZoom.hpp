#pragma once

#include <string>

namespace aurelo::PageZoom {

inline constexpr double kDefault = 1.0;
inline constexpr double kMinimum = 0.5;
inline constexpr double kMaximum = 2.0;
inline constexpr double kStep = 0.1;

// One step of `delta` from `zoom`, rounded to tenths and kept within 50 % to 200 %.
double stepped(double zoom, double delta);

// The percentage a step of `delta` would give, as the menu shows it ("110%").
std::string nextZoomLabel(double zoom, double delta);

} // namespace aurelo::PageZoom
