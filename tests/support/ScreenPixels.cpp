#include "support/ScreenPixels.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/x11/gdkx.h>

#include "support/MainLoopWait.hpp"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

namespace aurelo::test {

double ScreenArea::shareOf(std::uint32_t rgb) const {
    if (pixels.empty())
        return 0;
    constexpr int kTolerance = 12;
    const auto near = [&](std::uint32_t pixel) {
        for (int shift : {0, 8, 16})
            if (std::abs(static_cast<int>((pixel >> shift) & 0xff) -
                         static_cast<int>((rgb >> shift) & 0xff)) > kTolerance)
                return false;
        return true;
    };
    return static_cast<double>(std::ranges::count_if(pixels, near)) /
           static_cast<double>(pixels.size());
}

std::string ScreenArea::summary() const {
    std::map<std::uint32_t, int> counts;
    for (auto pixel : pixels)
        ++counts[pixel];
    std::vector<std::pair<int, std::uint32_t>> ranked;
    for (auto [pixel, count] : counts)
        ranked.emplace_back(count, pixel);
    std::ranges::sort(ranked, std::greater<>());
    std::ostringstream text;
    text << width << "x" << height << ":";
    for (std::size_t i = 0; i < std::min<std::size_t>(ranked.size(), 3); ++i)
        text << " #" << std::hex << ranked[i].second << std::dec << "×" << ranked[i].first;
    return text.str();
}

namespace {

// The widget's rectangle in its X window, and the window; nothing when it is not on screen.
struct Placement {
    Display* display = nullptr;
    Window window = 0;
    int x = 0, y = 0, width = 0, height = 0;
};

std::optional<Placement> placementOf(GtkWidget* widget) {
    GtkNative* native = gtk_widget_get_native(widget);
    graphene_rect_t bounds;
    if (!native || !gtk_widget_get_mapped(widget) ||
        !gtk_widget_compute_bounds(widget, GTK_WIDGET(native), &bounds))
        return std::nullopt;
    // The surface's origin lies inside the window's own shadow and border, if any.
    double surfaceX = 0, surfaceY = 0;
    gtk_native_get_surface_transform(native, &surfaceX, &surfaceY);
    return Placement{gdk_x11_display_get_xdisplay(gtk_widget_get_display(widget)),
                     gdk_x11_surface_get_xid(gtk_native_get_surface(native)),
                     static_cast<int>(bounds.origin.x + surfaceX),
                     static_cast<int>(bounds.origin.y + surfaceY),
                     static_cast<int>(bounds.size.width),
                     static_cast<int>(bounds.size.height)};
}

} // namespace

ScreenArea screenArea(GtkWidget* widget) {
    ScreenArea area;
    const auto at = placementOf(widget);
    if (!at || at->width <= 0 || at->height <= 0)
        return area;
    XImage* image =
        XGetImage(at->display, at->window, at->x, at->y, static_cast<unsigned>(at->width),
                  static_cast<unsigned>(at->height), AllPlanes, ZPixmap);
    if (!image)
        return area;
    area.width = at->width;
    area.height = at->height;
    area.pixels.reserve(static_cast<std::size_t>(area.width) *
                        static_cast<std::size_t>(area.height));
    for (int row = 0; row < area.height; ++row) {
        // Xvfb's 24-bit visual keeps a pixel in 32 bits, 0x00RRGGBB in the server's byte order.
        const auto* line =
            reinterpret_cast<const std::uint32_t*>(image->data + row * image->bytes_per_line);
        for (int column = 0; column < area.width; ++column)
            area.pixels.push_back(image->bits_per_pixel == 32
                                      ? line[column] & 0xffffff
                                      : static_cast<std::uint32_t>(XGetPixel(image, column, row)) &
                                            0xffffff);
    }
    XDestroyImage(image);
    return area;
}

std::optional<std::uint32_t> screenPixel(GtkWidget* widget, int x, int y) {
    const auto at = placementOf(widget);
    if (!at || x < 0 || y < 0 || x >= at->width || y >= at->height)
        return std::nullopt;
    XImage* image =
        XGetImage(at->display, at->window, at->x + x, at->y + y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return std::nullopt;
    const auto pixel = static_cast<std::uint32_t>(XGetPixel(image, 0, 0)) & 0xffffff;
    XDestroyImage(image);
    return pixel;
}

bool waitForScreen(GtkWidget* widget, std::uint32_t rgb, double share,
                   std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    do {
        runMainLoopFor(std::chrono::milliseconds(250));
        if (screenArea(widget).shareOf(rgb) >= share)
            return true;
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

} // namespace aurelo::test
