#include "app/AureloTranslatorApp.hpp"
#include "captions/OwnPlaybackStreamRule.hpp"
#include "models/SettingsStore.hpp"
#include "platform/GLRendererProbe.hpp"
#include "platform/RenderingPolicy.hpp"
#include "platform/StartupEnvironment.hpp"
#include "platform/UserDefaults.hpp"
#include "translation/AureloServiceURL.hpp"

#include <glib.h>

#include <chrono>
#include <cstdio>

namespace {

// Decides how pages and the window draw and sets the toolkit's variables for it. GTK reads them
// when it starts and WebKit's processes inherit them, so this runs first, while the process has
// one thread (the GL probe forks).
aurelo::RenderingDecision chooseRendering() {
    using namespace aurelo;
    const RenderingMode setting = [] {
        UserDefaults defaults(UserDefaults::standardLocation());
        return SettingsStore::storedRenderingMode(defaults);
    }();
    auto environment = RenderingEnvironment::fromProcess(std::nullopt);
    std::string probed;
    if (RenderingPolicy::needsRenderer(setting, environment)) {
        const auto start = std::chrono::steady_clock::now();
        environment.glRenderer = GLRendererProbe::rendererName();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        probed = "; GL probe " + std::to_string(took.count()) + " ms";
    }
    auto decision = RenderingPolicy::decide(setting, environment);
    StartupEnvironment::apply(
        StartupEnvironment::changesFor(decision.rendering, StartupEnvironment::processValue));

    const std::string message =
        std::string("Rendering: ") +
        (decision.rendering == Rendering::Software ? "software" : "hardware") + " (" +
        decision.reason + ")" + probed;
    const GLogField fields[] = {
        {"GLIB_DOMAIN", "com.aurelo.translator", -1},
        {"CATEGORY", "Rendering", -1},
        {"MESSAGE", message.c_str(), -1},
        {"PRIORITY", "6", -1},
    };
    g_log_structured_array(G_LOG_LEVEL_INFO, fields, G_N_ELEMENTS(fields));
    return decision;
}

} // namespace

int main(int argc, char* argv[]) {
    // A managed-service address we may not use is refused before anything talks to it.
    if (const auto& problem = aurelo::aureloServiceURLProblem(); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 2;
    }
    // Pages play sound from WebKit's own processes; the tag lets live captions recognise them as
    // ours. It is an environment variable, so it is set before any thread starts.
    aurelo::OwnPlaybackStreamRule::tagChildProcesses();
    const auto rendering = chooseRendering();
    auto app = aurelo::AureloTranslatorApp::create(rendering);
    return app->run(argc, argv);
}
