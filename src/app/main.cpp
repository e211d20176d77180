#include "platform/BuildConfig.hpp"
#include "app/AureloTranslatorApp.hpp"
#include "captions/OwnPlaybackStreamRule.hpp"
#include "models/SettingsStore.hpp"
#include "platform/GLRendererProbe.hpp"
#include "platform/RenderingPolicy.hpp"
#include "platform/StartupEnvironment.hpp"
#include "platform/UserDefaults.hpp"
#include "translation/AureloServiceURL.hpp"
#include "update/ApplicationBundle.hpp"

#include <glib.h>
#include <unistd.h>

#include <chrono>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifndef AURELO_DATA_DIR
#define AURELO_DATA_DIR ""
#endif

namespace {

constexpr const char* kHelp =
    "用法：aurelo-translator [选项…]\n"
    "\n"
    "Aurelo翻译器：在一个窗口里打开各个网页聊天平台的账号，把客户的消息翻译在原文下面，\n"
    "把要发出的文字先翻译再发送。\n"
    "\n"
    "选项：\n"
    "  -h, --help       显示本帮助并退出\n"
    "  -V, --version    显示版本、构建号和资源目录并退出\n"
    "\n"
    "环境变量：\n"
    "  AURELO_SERVICE_URL   托管翻译服务的地址，例如 https://translate.example.com；\n"
    "                       http:// 只接受本机地址。未设置时使用构建时的默认地址。\n"
    "  AURELO_RENDERING     auto、memory 或 smooth：自动选择、软件绘制（节省内存）或显卡加速，\n"
    "                       优先于设置中的“渲染方式”。\n"
    "  AURELO_HIDDEN_PAGES  opacity 或 unmapped：未显示的账号页面以透明方式保留或取消映射；\n"
    "                       未设置时随渲染方式（软件绘制时取消映射）。\n"
    "\n"
    "程序已在运行时再次启动，会显示已有的窗口。详细说明见 aurelo-translator(1)。\n";

// The icon the window and the launcher show; the application adds the folder holding it to the
// icon theme at start.
constexpr const char* kIconInResources = "icons/hicolor/scalable/apps/com.aurelo.translator.svg";

// Where the application looks for its resources: share/aurelo-translator beside the program's
// bin/ folder (a package under /usr, or a bundle), then the source tree's data/ folder for a
// program that runs from its build folder. The first folder that holds the icon is the one used.
std::optional<std::filesystem::path> resourceDirectory() {
    std::vector<std::filesystem::path> candidates;
    char buffer[4096];
    if (ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1); length > 0) {
        std::filesystem::path program(std::string(buffer, std::size_t(length)));
        candidates.push_back(program.parent_path().parent_path() / "share/aurelo-translator");
    }
    if (std::string_view dir = AURELO_DATA_DIR; !dir.empty())
        candidates.emplace_back(dir);
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate / kIconInResources, error))
            return candidate;
    }
    return std::nullopt;
}

void printVersion() {
    std::printf("Aurelo翻译器 %s（构建 %s）\n", aurelo::build::kVersion,
                aurelo::build::kBuildNumber);
    if (auto resources = resourceDirectory())
        std::printf("资源目录：%s\n", resources->c_str());
    else
        std::printf("资源目录：未找到（应在程序所在目录旁的 share/aurelo-translator）\n");
}

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
    // Help and version are answered before anything else: they need no display, no service and
    // no valid settings. Every other argument is left to the application.
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (argument == "--version" || argument == "-V") {
            printVersion();
            return 0;
        }
    }
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
