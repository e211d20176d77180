#pragma once

// Reads the GL_RENDERER string of our display, to tell a GPU from software GL before the toolkit
// starts. The probe runs in a short-lived child process: loading a GL driver maps tens of
// megabytes and starts driver threads, and none of that may stay in the application for the rest
// of the run (in software rendering the application never loads GL at all). It must therefore be
// called while the process has a single thread, before GTK or GLib start any.

#include <chrono>
#include <optional>
#include <string>

namespace aurelo {

class GLRendererProbe {
public:
    // The renderer of an OpenGL ES context on the display GTK will open (Wayland when
    // $WAYLAND_DISPLAY is set and GDK_BACKEND does not ask for X11, else X11); nullopt when there
    // is no display, no EGL, no context, or the probe did not answer within `limit`.
    static std::optional<std::string>
    rendererName(std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
};

} // namespace aurelo
