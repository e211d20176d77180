#include "platform/GLRendererProbe.hpp"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace aurelo {

namespace {

constexpr unsigned kGLRenderer = 0x1F01; // GL_RENDERER, without pulling in a GL header
constexpr std::size_t kLongestName = 512;

// Runs in the child: prints the renderer name on `out`. Any failure prints nothing.
void probeInto(int out) {
    const char* backend = std::getenv("GDK_BACKEND");
    const bool wantsX11 =
        backend && std::string_view(backend).find("x11") != std::string_view::npos;
    const bool wayland = !wantsX11 && std::getenv("WAYLAND_DISPLAY");
    if (!wayland && !std::getenv("DISPLAY"))
        return;
    // EGL_DEFAULT_DISPLAY on a platform display means "the default display of that platform":
    // the one $DISPLAY or $WAYLAND_DISPLAY names, as GTK will open it.
    EGLDisplay display = eglGetPlatformDisplay(
        wayland ? EGL_PLATFORM_WAYLAND_KHR : EGL_PLATFORM_X11_KHR, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr))
        return;
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                       EGL_OPENGL_ES2_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglBindAPI(EGL_OPENGL_ES_API) ||
        !eglChooseConfig(display, configAttributes, &config, 1, &count) || count < 1)
        return;
    const EGLint surfaceAttributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
    const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (surface == EGL_NO_SURFACE || context == EGL_NO_CONTEXT ||
        !eglMakeCurrent(display, surface, surface, context))
        return;
    using GetString = const unsigned char* (*)(unsigned);
    auto getString = reinterpret_cast<GetString>(eglGetProcAddress("glGetString"));
    const unsigned char* name = getString ? getString(kGLRenderer) : nullptr;
    if (name) {
        const auto* text = reinterpret_cast<const char*>(name);
        const std::size_t length = strnlen(text, kLongestName);
        [[maybe_unused]] auto written = write(out, text, length);
    }
    // The process ends right after; the driver's teardown is left to the kernel.
}

} // namespace

std::optional<std::string> GLRendererProbe::rendererName(std::chrono::milliseconds limit) {
    int channel[2];
    if (pipe(channel) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return std::nullopt;
    }
    if (child == 0) {
        close(channel[0]);
        // A driver that complains (a missing DRI module, an indirect context) must not write
        // into the application's own output.
        if (int null = open("/dev/null", O_WRONLY); null >= 0)
            dup2(null, STDERR_FILENO);
        probeInto(channel[1]);
        _exit(0);
    }
    close(channel[1]);

    std::string name;
    bool finished = false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!finished) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd readable{channel[0], POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[256];
        const ssize_t got = read(channel[0], buffer, sizeof buffer);
        if (got > 0 && name.size() < kLongestName)
            name.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || (got < 0 && errno != EINTR))
            finished = true;
    }
    close(channel[0]);
    // A probe that hangs (a remote display that stopped answering) is ended, never waited for.
    if (!finished)
        kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    if (!finished || name.empty())
        return std::nullopt;
    return name;
}

} // namespace aurelo
