#include "webview/PageNotificationPermissions.hpp"

#include "platform/GRef.hpp"

#include <vector>

namespace aurelo {

template <> struct GRefTraits<WebKitSecurityOrigin> {
    static WebKitSecurityOrigin* ref(WebKitSecurityOrigin* p) {
        return webkit_security_origin_ref(p);
    }
    static void unref(WebKitSecurityOrigin* p) { webkit_security_origin_unref(p); }
};

namespace {

std::set<std::string>& origins() {
    // Process-wide, as the web context it feeds.
    static std::set<std::string> allowed;
    return allowed;
}

} // namespace

std::optional<std::string> PageNotificationPermissions::originOf(const std::string& url) {
    auto origin = adoptGRef(webkit_security_origin_new_for_uri(url.c_str()));
    if (!origin)
        return std::nullopt;
    const char* scheme = webkit_security_origin_get_protocol(origin.get());
    const std::string protocol = scheme ? scheme : "";
    const char* host = webkit_security_origin_get_host(origin.get());
    if ((protocol != "http" && protocol != "https") || !host || !*host)
        return std::nullopt;
    auto text = adoptString(webkit_security_origin_to_string(origin.get()));
    return text.empty() ? std::nullopt : std::optional(std::move(text));
}

bool PageNotificationPermissions::allow(const std::string& pageURL) {
    const auto origin = originOf(pageURL);
    if (origin)
        origins().insert(*origin);
    return origin.has_value();
}

const std::set<std::string>& PageNotificationPermissions::allowedOrigins() {
    return origins();
}

void PageNotificationPermissions::attach(WebKitWebContext* context) {
    g_signal_connect(context, "initialize-notification-permissions", G_CALLBACK(initializeCallback),
                     nullptr);
}

void PageNotificationPermissions::initializeCallback(WebKitWebContext* context, gpointer) {
    std::vector<GRef<WebKitSecurityOrigin>> owned;
    GList* allowed = nullptr;
    for (const auto& origin : origins()) {
        owned.push_back(adoptGRef(webkit_security_origin_new_for_uri(origin.c_str())));
        if (owned.back())
            allowed = g_list_prepend(allowed, owned.back().get());
    }
    // WebKit copies what it needs from both lists; the origins stay ours.
    webkit_web_context_initialize_notification_permissions(context, allowed, nullptr);
    g_list_free(allowed);
}

} // namespace aurelo
