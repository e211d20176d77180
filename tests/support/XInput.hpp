#pragma once

// Real input on the virtual display: XTest key and pointer events (by way of xdotool), which
// reach GTK and WebKit exactly as a person's do.

#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;

namespace aurelo::test {

// Runs `xdotool <arguments>`, then lets the main loop take the events; false when it failed.
bool xdotool(std::vector<std::string> arguments);

// Gives `window`, a toplevel on the X display, the keyboard focus once the X server has done so.
bool focusWindow(GtkWidget* window);

// A real pointer `action` ("click", "mousedown") of `button` at `widget`'s point (x, y).
bool pointerAt(GtkWidget* widget, double x, double y, const char* action = "click", int button = 1);

} // namespace aurelo::test
