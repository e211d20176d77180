#include "webview/WebEngineContext.hpp"

#include "platform/GRef.hpp"
#include "webview/PageNotificationPermissions.hpp"

#include <filesystem>
#include <system_error>

namespace aurelo {

template <> struct GRefTraits<WebKitMemoryPressureSettings> {
    static WebKitMemoryPressureSettings* ref(WebKitMemoryPressureSettings* p) {
        return webkit_memory_pressure_settings_copy(p);
    }
    static void unref(WebKitMemoryPressureSettings* p) { webkit_memory_pressure_settings_free(p); }
};

namespace {

Rendering s_rendering = Rendering::Hardware;

GRef<WebKitMemoryPressureSettings> memoryPressureSettings(unsigned limitMB) {
    auto settings = adoptGRef(webkit_memory_pressure_settings_new());
    webkit_memory_pressure_settings_set_memory_limit(settings.get(), limitMB);
    return settings;
}

// Where the web process extension is: in the build tree while it exists (tests, and a program run
// from there), else in lib/aurelo-translator beside the program's bin/ folder, as installed.
std::filesystem::path webProcessExtensionsDirectory() {
    std::error_code error;
    if (std::filesystem::is_directory(AURELO_WEB_EXTENSIONS_BUILD_DIR, error))
        return AURELO_WEB_EXTENSIONS_BUILD_DIR;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return AURELO_WEB_EXTENSIONS_INSTALL_DIR;
    return program.parent_path().parent_path() / "lib/aurelo-translator/web-extensions";
}

} // namespace

WebEngineContext::MemoryLimits WebEngineContext::limitsFor(Rendering rendering) {
    // A static chat page's web process counts about 20-25 MB by WebKit's measure and a
    // JavaScript application's 50 MB and more, so 40 MB (releases from 13 MB, everything from
    // 20 MB) reaches both. 768 MB is never reached by a page that does not leak.
    constexpr unsigned kHigh = 768;
    constexpr unsigned kSoftwareWeb = 40;
    return rendering == Rendering::Software ? MemoryLimits{kSoftwareWeb, kHigh}
                                            : MemoryLimits{kHigh, kHigh};
}

void WebEngineContext::configure(Rendering rendering) {
    s_rendering = rendering;
}

WebKitWebContext* WebEngineContext::shared() {
    // Lives as long as the process: views hold it too, and WebKit expects it to outlive them.
    static WebKitWebContext* context = [] {
        const MemoryLimits limits = limitsFor(s_rendering);
        auto network = memoryPressureSettings(limits.networkProcessMB);
        webkit_network_session_set_memory_pressure_settings(network.get());
        auto web = memoryPressureSettings(limits.webProcessMB);
        auto* created = WEBKIT_WEB_CONTEXT(
            g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", web.get(), nullptr));
        // No page cache and no cache of spare web processes: neither is used by a page that never
        // navigates back, and each holds a whole page or process.
        webkit_web_context_set_cache_model(created, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        // Tells each page which web process it runs in, for the memory watchdog.
        webkit_web_context_set_web_process_extensions_directory(
            created, webProcessExtensionsDirectory().c_str());
        PageNotificationPermissions::attach(created);
        return created;
    }();
    return context;
}

} // namespace aurelo
