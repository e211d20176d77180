#include "webview/WebEngineContext.hpp"

#include "platform/GRef.hpp"

namespace aurelo {

template <> struct GRefTraits<WebKitMemoryPressureSettings> {
    static WebKitMemoryPressureSettings* ref(WebKitMemoryPressureSettings* p) {
        return webkit_memory_pressure_settings_copy(p);
    }
    static void unref(WebKitMemoryPressureSettings* p) { webkit_memory_pressure_settings_free(p); }
};

namespace {

GRef<WebKitMemoryPressureSettings> memoryPressureSettings() {
    auto settings = adoptGRef(webkit_memory_pressure_settings_new());
    webkit_memory_pressure_settings_set_memory_limit(settings.get(),
                                                     WebEngineContext::kMemoryLimitMiB);
    return settings;
}

} // namespace

WebKitWebContext* WebEngineContext::shared() {
    // Lives as long as the process: views hold it too, and WebKit expects it to outlive them.
    static WebKitWebContext* context = [] {
        auto settings = memoryPressureSettings();
        webkit_network_session_set_memory_pressure_settings(settings.get());
        auto* created = WEBKIT_WEB_CONTEXT(g_object_new(
            WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", settings.get(), nullptr));
        // No page cache and no cache of spare web processes: neither is used by a page that never
        // navigates back, and each holds a whole page or process.
        webkit_web_context_set_cache_model(created, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        return created;
    }();
    return context;
}

} // namespace aurelo
