#pragma once

// What the X server shows of a widget: the pixels of its area in its window, read back with
// XGetImage, so that a test sees the screen rather than a widget's idea of itself (a page that
// reports itself visible can still be blank).

#include <gtk/gtk.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aurelo::test {

struct ScreenArea {
    int width = 0;
    int height = 0;
    // Share of the pixels within a small distance of `rgb` (0xRRGGBB), from 0 to 1.
    double shareOf(std::uint32_t rgb) const;
    std::string summary() const; // the most frequent colours, for a failure message

    std::vector<std::uint32_t> pixels; // 0xRRGGBB, row by row
};

// The widget's area as the screen shows it now; empty when it is not on screen.
ScreenArea screenArea(GtkWidget* widget);

// One pixel of the widget as the screen shows it (widget coordinates), 0xRRGGBB; nothing when
// the widget is not on screen. Cheap enough to ask every frame.
std::optional<std::uint32_t> screenPixel(GtkWidget* widget, int x, int y);

// Whether, within `deadline`, at least `share` of the widget's area shows `rgb` on screen. The
// screen is read a few times a second, with the main loop running in between: reading it after
// every event would keep the main loop from drawing what the test waits for.
bool waitForScreen(GtkWidget* widget, std::uint32_t rgb, double share,
                   std::chrono::milliseconds deadline);

} // namespace aurelo::test
