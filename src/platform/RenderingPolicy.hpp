#pragma once

// Whether pages and the window draw with the GPU or in software, decided once at start.
//
// On software GL (llvmpipe and its kin, which is what virtual machines, remote desktops and
// machines without a GPU driver give us) "accelerated" drawing is the CPU pretending to be a GPU:
// every web process keeps its own rasteriser state, layers and buffers, and the window keeps
// GTK's GL renderer on top. Drawing in software outright is cheaper there in memory and no
// slower. With a real GPU acceleration stays on: it is what makes scrolling and video smooth.
//
// The decision is display-free (it reads strings), so a test drives it with any renderer name
// and session; the process environment and the GL probe are read in one place, at start.

#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

// The user's choice on the settings page ("渲染方式").
enum class RenderingMode {
    Automatic,  // 自动: software when the GL renderer is software or the session is remote
    SaveMemory, // 节省内存: always software
    Smooth,     // 流畅优先: always the GPU path, as the toolkit and WebKit would choose
};

// The stored form of a mode ("auto", "memory", "smooth"), and back; nullopt for anything else.
std::string_view renderingModeRawValue(RenderingMode mode);
std::optional<RenderingMode> renderingModeFromRawValue(std::string_view value);

enum class Rendering { Hardware, Software };

// What the start saw of the desktop: the GL renderer and the session's environment.
struct RenderingEnvironment {
    // The GL_RENDERER string of a context on our display; nullopt when none could be made.
    std::optional<std::string> glRenderer;
    std::string display;        // $DISPLAY
    std::string waylandDisplay; // $WAYLAND_DISPLAY
    bool xrdpSession = false;   // xrdp sets XRDP_SESSION / XRDP_SOCKET_PATH
    bool vncSession = false;    // VNC servers set VNCDESKTOP
    // The support override (AURELO_RENDERING): "auto", "memory" or "smooth"; empty when unset.
    std::string override;

    // The variables above from this process's environment; the renderer is given.
    static RenderingEnvironment fromProcess(std::optional<std::string> glRenderer);
};

struct RenderingDecision {
    Rendering rendering = Rendering::Hardware;
    // Why, in one line for the start-up log.
    std::string reason;
    friend bool operator==(const RenderingDecision&, const RenderingDecision&) = default;
};

class RenderingPolicy {
public:
    // The override wins over the setting, the setting over what the desktop offers. An override
    // we do not know is ignored (and named in the reason), so a typo cannot break the start.
    static RenderingDecision decide(RenderingMode setting, const RenderingEnvironment& environment);

    // Whether decide() would look at the GL renderer: the probe costs a short-lived process and a
    // driver load, so it is skipped when the override, the setting or the session decides alone.
    static bool needsRenderer(RenderingMode setting, const RenderingEnvironment& environment);

    // Whether a GL_RENDERER string names a rasteriser that runs on the CPU.
    static bool isSoftwareRenderer(std::string_view renderer);
    // Whether the session is drawn for a screen elsewhere (an X display on another host,
    // xrdp, VNC): pixels travel over the network, and GL there is software or indirect.
    static bool isRemoteSession(const RenderingEnvironment& environment);
};

} // namespace aurelo
