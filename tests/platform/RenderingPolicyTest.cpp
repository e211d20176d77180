#include "platform/RenderingPolicy.hpp"
#include "platform/GLRendererProbe.hpp"
#include "platform/StartupEnvironment.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <vector>

namespace aurelo {
namespace {

struct RendererCase {
    const char* renderer;
    bool software;
};

// Renderer strings as Mesa, the proprietary drivers and other stacks report them.
const RendererCase kRenderers[] = {
    {"llvmpipe (LLVM 15.0.6, 256 bits)", true},
    {"LLVMPIPE (LLVM 11.0.1, 128 bits)", true},
    {"softpipe", true},
    {"Software Rasterizer", true},
    {"Mesa DRI Intel(R) HD Graphics (swrast)", true},
    {"SWR (LLVM 12.0.0, 256 bits)", true},
    {"Google SwiftShader", true},
    {"ANGLE (Microsoft Basic Render Driver)", true},
    {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false},
    {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)", false},
    {"NVIDIA GeForce RTX 3060/PCIe/SSE2", false},
    {"virgl (Intel(R) UHD Graphics 620)", false},
    {"SVGA3D; build: RELEASE; LLVM;", false},
    {"", false},
};

TEST(RenderingPolicy, TellsSoftwareRenderersFromGPUs) {
    for (const auto& c : kRenderers)
        EXPECT_EQ(RenderingPolicy::isSoftwareRenderer(c.renderer), c.software) << c.renderer;
}

RenderingEnvironment localX11(std::optional<std::string> renderer) {
    RenderingEnvironment environment;
    environment.glRenderer = std::move(renderer);
    environment.display = ":0";
    return environment;
}

struct SessionCase {
    const char* what;
    RenderingEnvironment environment;
    bool remote;
};

TEST(RenderingPolicy, RecognisesRemoteSessions) {
    auto with = [](auto change) {
        RenderingEnvironment environment = localX11("Mesa Intel(R) UHD Graphics 620");
        change(environment);
        return environment;
    };
    const SessionCase cases[] = {
        {"local X", with([](auto&) {}), false},
        {"local X with screen", with([](auto& e) { e.display = ":1.0"; }), false},
        {"unix socket", with([](auto& e) { e.display = "unix:0"; }), false},
        {"socket path", with([](auto& e) { e.display = "/tmp/launch-x/org.x:0"; }), false},
        {"ssh -X", with([](auto& e) { e.display = "localhost:10.0"; }), true},
        {"X server on a host", with([](auto& e) { e.display = "office-pc:0"; }), true},
        {"IPv6 host", with([](auto& e) { e.display = "[::1]:3"; }), true},
        {"xrdp", with([](auto& e) { e.xrdpSession = true; }), true},
        {"VNC", with([](auto& e) { e.vncSession = true; }), true},
        {"Wayland with Xwayland", with([](auto& e) {
             e.waylandDisplay = "wayland-0";
             e.display = ":0";
         }),
         false},
        {"no display variable", with([](auto& e) { e.display.clear(); }), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RenderingPolicy::isRemoteSession(c.environment), c.remote) << c.what;
}

struct DecisionCase {
    const char* what;
    RenderingMode setting;
    std::optional<std::string> renderer;
    std::string display;
    std::string override;
    Rendering expected;
};

TEST(RenderingPolicy, DecidesFromOverrideSettingAndDesktop) {
    const std::string gpu = "Mesa Intel(R) UHD Graphics 620 (KBL GT2)";
    const std::string llvmpipe = "llvmpipe (LLVM 15.0.6, 256 bits)";
    using M = RenderingMode;
    using R = Rendering;
    const DecisionCase cases[] = {
        {"GPU, automatic", M::Automatic, gpu, ":0", "", R::Hardware},
        {"llvmpipe, automatic", M::Automatic, llvmpipe, ":0", "", R::Software},
        {"no GL at all", M::Automatic, std::nullopt, ":0", "", R::Software},
        {"GPU over ssh -X", M::Automatic, gpu, "localhost:10.0", "", R::Software},
        {"setting: save memory on a GPU", M::SaveMemory, gpu, ":0", "", R::Software},
        {"setting: smooth on llvmpipe", M::Smooth, llvmpipe, ":0", "", R::Hardware},
        {"override beats the setting", M::SaveMemory, gpu, ":0", "smooth", R::Hardware},
        {"override memory on a GPU", M::Automatic, gpu, ":0", "memory", R::Software},
        {"override in capitals", M::Automatic, gpu, ":0", "MEMORY", R::Software},
        {"override auto undoes the setting", M::Smooth, llvmpipe, ":0", "auto", R::Software},
        {"override auto undoes save memory", M::SaveMemory, gpu, ":0", "auto", R::Hardware},
        {"unknown override is ignored", M::Automatic, gpu, ":0", "fast", R::Hardware},
        {"unknown override keeps the setting", M::SaveMemory, gpu, ":0", "gpu", R::Software},
    };
    for (const auto& c : cases) {
        RenderingEnvironment environment = localX11(c.renderer);
        environment.display = c.display;
        environment.override = c.override;
        EXPECT_EQ(RenderingPolicy::decide(c.setting, environment).rendering, c.expected) << c.what;
    }
}

TEST(RenderingPolicy, StoredModesRoundTripAndJunkIsRefused) {
    for (auto mode : {RenderingMode::Automatic, RenderingMode::SaveMemory, RenderingMode::Smooth})
        EXPECT_EQ(renderingModeFromRawValue(renderingModeRawValue(mode)), mode);
    for (const char* junk : {"", "Auto", "gpu", "memory ", "1"})
        EXPECT_EQ(renderingModeFromRawValue(junk), std::nullopt) << junk;
}

struct EnvironmentCase {
    const char* what;
    Rendering rendering;
    std::map<std::string, std::string> before;
    std::vector<StartupEnvironment::Change> expected;
};

TEST(StartupEnvironment, SetsTheToolkitsVariablesAndKeepsTheUsersOwn) {
    using C = StartupEnvironment::Change;
    const C heap{"JSC_largeHeapSize", "8388608"};
    const EnvironmentCase cases[] = {
        {"software, clean environment",
         Rendering::Software,
         {},
         {{"GDK_DEBUG", "gl-disable"}, {"GSK_RENDERER", "cairo"}, heap}},
        {"hardware leaves the toolkit alone", Rendering::Hardware, {}, {heap}},
        {"other debug flags are kept",
         Rendering::Software,
         {{"GDK_DEBUG", "events"}},
         {{"GDK_DEBUG", "events,gl-disable"}, {"GSK_RENDERER", "cairo"}, heap}},
        {"gl-disable already in the list",
         Rendering::Software,
         {{"GDK_DEBUG", "events:gl-disable"}},
         {{"GSK_RENDERER", "cairo"}, heap}},
        {"a flag that only contains the word",
         Rendering::Software,
         {{"GDK_DEBUG", "gl-disable-foo"}},
         {{"GDK_DEBUG", "gl-disable-foo,gl-disable"}, {"GSK_RENDERER", "cairo"}, heap}},
        {"the user's renderer wins",
         Rendering::Software,
         {{"GSK_RENDERER", "ngl"}},
         {{"GDK_DEBUG", "gl-disable"}, heap}},
        {"the user's heap size wins", Rendering::Hardware, {{"JSC_largeHeapSize", "1000"}}, {}},
        {"an empty value counts as unset",
         Rendering::Hardware,
         {{"JSC_largeHeapSize", ""}},
         {heap}},
    };
    for (const auto& c : cases) {
        const auto lookup = [&](std::string_view name) -> std::optional<std::string> {
            auto it = c.before.find(std::string(name));
            return it == c.before.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
        EXPECT_EQ(StartupEnvironment::changesFor(c.rendering, lookup), c.expected) << c.what;
    }
}

TEST(GLRendererProbe, AnswersNothingWithoutADisplay) {
    // With no display to open the probe must come back empty (and promptly), not hang or crash
    // the caller.
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const std::string savedDisplay = display ? display : "";
    const std::string savedWayland = wayland ? wayland : "";
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(GLRendererProbe::rendererName(), std::nullopt);
    if (display)
        ::setenv("DISPLAY", savedDisplay.c_str(), 1);
    if (wayland)
        ::setenv("WAYLAND_DISPLAY", savedWayland.c_str(), 1);
}

} // namespace
} // namespace aurelo
