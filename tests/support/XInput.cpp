#include "support/XInput.hpp"

#include "support/MainLoopWait.hpp"
#include "support/Programs.hpp"

#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

#include <cmath>

namespace aurelo::test {

namespace {

std::string windowID(GtkNative* native) {
    return std::to_string(gdk_x11_surface_get_xid(gtk_native_get_surface(native)));
}

} // namespace

bool xdotool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "xdotool");
    const bool ran = runProgram(arguments).succeeded;
    runMainLoopFor(std::chrono::milliseconds(30));
    return ran;
}

bool focusWindow(GtkWidget* window) {
    return xdotool({"windowfocus", "--sync", windowID(GTK_NATIVE(window))});
}

bool pointerAt(GtkWidget* widget, double x, double y, const char* action, int button) {
    GtkNative* native = gtk_widget_get_native(widget);
    const graphene_point_t in{static_cast<float>(x), static_cast<float>(y)};
    graphene_point_t out{};
    if (!native || !gtk_widget_compute_point(widget, GTK_WIDGET(native), &in, &out))
        return false;
    // Widget coordinates start inside the surface's shadow and decorations, if any.
    double dx = 0, dy = 0;
    gtk_native_get_surface_transform(native, &dx, &dy);
    return xdotool({"mousemove", "--window", windowID(native),
                    std::to_string(std::lround(out.x + dx)),
                    std::to_string(std::lround(out.y + dy)), action, std::to_string(button)});
}

} // namespace aurelo::test
