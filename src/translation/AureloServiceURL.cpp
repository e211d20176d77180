#include "translation/AureloServiceURL.hpp"

#include "platform/GRef.hpp"
#include "platform/Text.hpp"
#include "platform/UriRef.hpp"

#include <glib.h>

#include <cstdlib>

#ifndef AURELO_DEFAULT_SERVICE_URL
#define AURELO_DEFAULT_SERVICE_URL "http://127.0.0.1:8787"
#endif

namespace aurelo {

namespace {

bool isLoopbackHost(std::string_view host) {
    if (host == "localhost" || host == "::1" || host == "[::1]")
        return true;
    // 127.0.0.0/8
    if (host.starts_with("127.")) {
        int dots = 0;
        for (char c : host) {
            if (c == '.')
                ++dots;
            else if (c < '0' || c > '9')
                return false;
        }
        return dots == 3;
    }
    return false;
}

struct ResolvedOrigin {
    std::string origin;
    std::string problem;
};

const ResolvedOrigin& resolvedOrigin() {
    static const ResolvedOrigin resolved = [] {
        ResolvedOrigin r;
        const char* fromEnvironment = std::getenv("AURELO_SERVICE_URL");
        auto fallback = validateServiceOrigin(AURELO_DEFAULT_SERVICE_URL);
        r.origin = fallback ? *fallback : std::string(AURELO_DEFAULT_SERVICE_URL);
        if (fromEnvironment && *fromEnvironment) {
            auto checked = validateServiceOrigin(fromEnvironment);
            if (checked)
                r.origin = *checked;
            else
                r.problem = "AURELO_SERVICE_URL: " + checked.error();
        }
        return r;
    }();
    return resolved;
}

} // namespace

std::expected<std::string, std::string> validateServiceOrigin(std::string_view origin) {
    std::string text(origin);
    const std::string refused = "翻译服务地址无效：" + text;
    const UriRef uri = parseUri(text);
    if (!uri)
        return std::unexpected(refused);
    GUri* parsed = uri.get();
    std::string scheme =
        text::asciiLowercased(g_uri_get_scheme(parsed) ? g_uri_get_scheme(parsed) : "");
    std::string host = g_uri_get_host(parsed) ? g_uri_get_host(parsed) : "";
    std::string path = g_uri_get_path(parsed) ? g_uri_get_path(parsed) : "";
    bool extra =
        g_uri_get_query(parsed) || g_uri_get_fragment(parsed) || g_uri_get_userinfo(parsed);

    if (host.empty() || extra || !(path.empty() || path == "/"))
        return std::unexpected(refused);
    if (scheme == "http" && !isLoopbackHost(host))
        return std::unexpected("翻译服务地址必须使用 https（只有本机地址可以使用 http）：" + text);
    if (scheme != "https" && scheme != "http")
        return std::unexpected(refused);
    while (!text.empty() && text.back() == '/')
        text.pop_back();
    return text;
}

const std::string& aureloServiceURL() {
    return resolvedOrigin().origin;
}

const std::string& aureloServiceURLProblem() {
    return resolvedOrigin().problem;
}

std::string serviceEndpoint(std::string_view origin, std::string_view path) {
    std::string url(origin);
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    if (!path.starts_with('/'))
        url += '/';
    url += path;
    return url;
}

} // namespace aurelo
