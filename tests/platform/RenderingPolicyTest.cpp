#include "platform/RenderingPolicy.hpp"
#include "platform/GLRendererProbe.hpp"
#include "platform/HiddenPagePolicy.hpp"
#include "platform/StartupEnvironment.hpp"
#include "support/ScopedEnv.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace aurelo {
namespace {

// Renderer strings as Mesa, the proprietary drivers and other stacks report them.
TEST(RenderingPolicy, TellsSoftwareRenderersFromGPUs) {
    for (const char* software :
         {"llvmpipe (LLVM 15.0.6, 256 bits)", "LLVMPIPE (LLVM 11.0.1, 128 bits)", "softpipe",
          "Software Rasterizer", "Mesa DRI Intel(R) HD Graphics (swrast)",
          "SWR (LLVM 12.0.0, 256 bits)", "Google SwiftShader",
          "ANGLE (Microsoft Basic Render Driver)"})
        EXPECT_TRUE(RenderingPolicy::isSoftwareRenderer(software)) << software;
    for (const char* gpu :
         {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)",
          "AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)",
          "NVIDIA GeForce RTX 3060/PCIe/SSE2", "virgl (Intel(R) UHD Graphics 620)",
          "SVGA3D; build: RELEASE; LLVM;", ""})
        EXPECT_FALSE(RenderingPolicy::isSoftwareRenderer(gpu)) << gpu;
}

TEST(RenderingPolicy, RecognisesRemoteSessions) {
    struct Case {
        const char* display;
        const char* wayland;
        bool xrdp, vnc, remote;
    };
    const Case cases[] = {
        {":0", "", false, false, false},
        {":1.0", "", false, false, false},
        {"unix:0", "", false, false, false},
        {"/tmp/launch-x/org.x:0", "", false, false, false},
        {"", "", false, false, false},
        {"localhost:10.0", "", false, false, true}, // ssh -X
        {"office-pc:0", "", false, false, true},
        {"[::1]:3", "", false, false, true},
        {":0", "", true, false, true},
        {":0", "", false, true, true},
        // Under Wayland the X display is the compositor's own Xwayland.
        {"localhost:10.0", "wayland-0", false, false, false},
    };
    for (const auto& c : cases) {
        RenderingEnvironment environment;
        environment.display = c.display;
        environment.waylandDisplay = c.wayland;
        environment.xrdpSession = c.xrdp;
        environment.vncSession = c.vnc;
        EXPECT_EQ(RenderingPolicy::isRemoteSession(environment), c.remote)
            << c.display << " " << c.wayland << " " << c.xrdp << c.vnc;
    }
}

TEST(RenderingPolicy, DecidesFromOverrideSettingAndDesktop) {
    const std::string gpu = "Mesa Intel(R) UHD Graphics 620 (KBL GT2)";
    const std::string llvmpipe = "llvmpipe (LLVM 15.0.6, 256 bits)";
    using M = RenderingMode;
    using R = Rendering;
    struct Case {
        const char* what;
        RenderingMode setting;
        std::optional<std::string> renderer;
        std::string display;
        std::string override;
        Rendering expected;
    };
    const Case cases[] = {
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
        RenderingEnvironment environment;
        environment.glRenderer = c.renderer;
        environment.display = c.display;
        environment.override = c.override;
        EXPECT_EQ(RenderingPolicy::decide(c.setting, environment).rendering, c.expected) << c.what;
    }
}

TEST(StartupEnvironment, SetsTheToolkitsVariablesAndKeepsTheUsersOwn) {
    struct Case {
        Rendering rendering;
        std::map<std::string, std::string> before;
        std::string expected; // the changes as "NAME=value" separated by spaces
    };
    const std::string software = "GSK_RENDERER=cairo JSC_largeHeapSize=8388608";
    const Case cases[] = {
        {Rendering::Software, {}, "GDK_DEBUG=gl-disable " + software},
        {Rendering::Hardware, {}, "JSC_largeHeapSize=8388608"},
        {Rendering::Software, {{"GDK_DEBUG", "events"}}, "GDK_DEBUG=events,gl-disable " + software},
        {Rendering::Software, {{"GDK_DEBUG", "events:gl-disable"}}, software},
        {Rendering::Software,
         {{"GDK_DEBUG", "gl-disable-foo"}},
         "GDK_DEBUG=gl-disable-foo,gl-disable " + software},
        {Rendering::Software,
         {{"GSK_RENDERER", "ngl"}},
         "GDK_DEBUG=gl-disable JSC_largeHeapSize=8388608"},
        {Rendering::Hardware, {{"JSC_largeHeapSize", "1000"}}, ""},
        // An empty value counts as unset.
        {Rendering::Hardware, {{"JSC_largeHeapSize", ""}}, "JSC_largeHeapSize=8388608"},
    };
    for (const auto& c : cases) {
        const auto lookup = [&](std::string_view name) -> std::optional<std::string> {
            auto it = c.before.find(std::string(name));
            return it == c.before.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
        std::string changes;
        for (const auto& change : StartupEnvironment::changesFor(c.rendering, lookup))
            changes += (changes.empty() ? "" : " ") + change.name + "=" + change.value;
        EXPECT_EQ(changes, c.expected);
    }
}

// Software rendering unmaps hidden pages (their frames are full-size images in the window's
// process); accelerated compositing keeps them mapped (remapping rebuilds the compositor). The
// support variable wins only with a value it knows.
TEST(HiddenPagePolicy, FollowsTheRenderingUnlessSupportSaysOtherwise) {
    const std::tuple<Rendering, const char*, HiddenPages> cases[] = {
        {Rendering::Software, "", HiddenPages::Unmapped},
        {Rendering::Hardware, "", HiddenPages::Transparent},
        {Rendering::Software, "opacity", HiddenPages::Transparent},
        {Rendering::Hardware, "unmapped", HiddenPages::Unmapped},
        {Rendering::Software, "unmapped", HiddenPages::Unmapped},
        {Rendering::Hardware, "opacity", HiddenPages::Transparent},
        {Rendering::Software, "Opacity", HiddenPages::Unmapped},
        {Rendering::Hardware, "unmapped ", HiddenPages::Transparent},
        {Rendering::Hardware, "hidden", HiddenPages::Transparent},
    };
    for (const auto& [rendering, override, expected] : cases)
        EXPECT_EQ(HiddenPagePolicy::choose(rendering, override), expected)
            << (rendering == Rendering::Software ? "software" : "hardware") << " with \""
            << override << '"';
}

// With no display to open, the probe must come back empty, not hang or crash its caller.
TEST(GLRendererProbe, AnswersNothingWithoutADisplay) {
    const test::ScopedEnv noDisplay({{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
    EXPECT_EQ(GLRendererProbe::rendererName(), std::nullopt);
}

} // namespace
} // namespace aurelo
