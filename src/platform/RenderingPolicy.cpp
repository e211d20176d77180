#include "platform/RenderingPolicy.hpp"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace aurelo {

namespace {

std::string lowered(std::string_view text) {
    std::string result(text);
    std::ranges::transform(result, result.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::string variable(const char* name) {
    const char* value = g_getenv(name);
    return value ? value : "";
}

std::string describe(const RenderingEnvironment& environment) {
    return environment.glRenderer ? "GL renderer \"" + *environment.glRenderer + "\""
                                  : std::string("no GL");
}

} // namespace

std::string_view renderingModeRawValue(RenderingMode mode) {
    switch (mode) {
    case RenderingMode::Automatic:
        return "auto";
    case RenderingMode::SaveMemory:
        return "memory";
    case RenderingMode::Smooth:
        return "smooth";
    }
    return "auto";
}

std::optional<RenderingMode> renderingModeFromRawValue(std::string_view value) {
    for (auto mode : {RenderingMode::Automatic, RenderingMode::SaveMemory, RenderingMode::Smooth})
        if (renderingModeRawValue(mode) == value)
            return mode;
    return std::nullopt;
}

RenderingEnvironment RenderingEnvironment::fromProcess(std::optional<std::string> glRenderer) {
    RenderingEnvironment environment;
    environment.glRenderer = std::move(glRenderer);
    environment.display = variable("DISPLAY");
    environment.waylandDisplay = variable("WAYLAND_DISPLAY");
    environment.xrdpSession =
        !variable("XRDP_SESSION").empty() || !variable("XRDP_SOCKET_PATH").empty();
    environment.vncSession = !variable("VNCDESKTOP").empty();
    environment.override = variable("AURELO_RENDERING");
    return environment;
}

bool RenderingPolicy::isSoftwareRenderer(std::string_view renderer) {
    // Mesa's CPU rasterisers (llvmpipe, softpipe, the old swrast and OpenSWR), the ones other
    // stacks ship (SwiftShader, Windows' basic render driver under a nested session), and the
    // names Mesa gives them in older releases.
    static constexpr std::array<std::string_view, 8> kSoftware{"llvmpipe",    "softpipe",
                                                               "swrast",      "software rasterizer",
                                                               "swiftshader", "basic render driver",
                                                               "swr ",        "openswr"};
    const std::string name = lowered(renderer) + " ";
    return std::ranges::any_of(
        kSoftware, [&](std::string_view word) { return name.find(word) != std::string::npos; });
}

bool RenderingPolicy::isRemoteSession(const RenderingEnvironment& environment) {
    if (environment.xrdpSession || environment.vncSession)
        return true;
    // On Wayland the compositor owns the screen; $DISPLAY there is its local Xwayland.
    if (!environment.waylandDisplay.empty())
        return false;
    // "host:0" or "localhost:10.0" (ssh -X) is a server on the network; ":0", "unix:0" and a
    // socket path (launchd-style "/tmp/…:0") are local.
    const std::string& display = environment.display;
    const auto colon = display.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    const std::string host = display.substr(0, colon);
    return host != "unix" && !host.starts_with('/');
}

bool RenderingPolicy::needsRenderer(RenderingMode setting,
                                    const RenderingEnvironment& environment) {
    if (auto mode = renderingModeFromRawValue(lowered(environment.override)))
        setting = *mode;
    return setting == RenderingMode::Automatic && !isRemoteSession(environment);
}

RenderingDecision RenderingPolicy::decide(RenderingMode setting,
                                          const RenderingEnvironment& environment) {
    std::string note;
    if (!environment.override.empty()) {
        if (auto mode = renderingModeFromRawValue(lowered(environment.override))) {
            if (*mode != RenderingMode::Automatic) {
                const bool software = *mode == RenderingMode::SaveMemory;
                return {software ? Rendering::Software : Rendering::Hardware,
                        "AURELO_RENDERING=" + environment.override};
            }
            // An explicit "auto" overrides the setting too: support's way back to detection.
            setting = RenderingMode::Automatic;
            note = "AURELO_RENDERING=auto, ";
        } else {
            note = "AURELO_RENDERING=\"" + environment.override +
                   "\" is not auto, memory or "
                   "smooth and was ignored; ";
        }
    }
    if (setting == RenderingMode::SaveMemory)
        return {Rendering::Software, note + "setting: save memory"};
    if (setting == RenderingMode::Smooth)
        return {Rendering::Hardware, note + "setting: smooth"};

    if (isRemoteSession(environment))
        return {Rendering::Software,
                note + "remote session (" +
                    (environment.xrdpSession  ? std::string("xrdp")
                     : environment.vncSession ? std::string("VNC")
                                              : "DISPLAY=" + environment.display) +
                    ")"};
    if (!environment.glRenderer)
        return {Rendering::Software, note + "no GL"};
    if (isSoftwareRenderer(*environment.glRenderer))
        return {Rendering::Software, note + "software " + describe(environment)};
    return {Rendering::Hardware, note + describe(environment)};
}

} // namespace aurelo
