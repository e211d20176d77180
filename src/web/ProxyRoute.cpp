#include "web/ProxyRoute.hpp"

#include "platform/GRef.hpp"

#include <glib.h>

#include <algorithm>
#include <cctype>

namespace aurelo {

namespace {

bool isHostNameCharacter(unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c >= 0x80;
}

bool isIPv6Literal(std::string_view host) {
    if (host.find(':') == std::string_view::npos)
        return false;
    return std::ranges::all_of(
        host, [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; });
}

bool isUsableHost(std::string_view host) {
    if (isIPv6Literal(host))
        return true;
    return std::ranges::all_of(host, isHostNameCharacter);
}

// Every character but the unreserved ones percent-encoded, so that ":", "@" or "/" in a login
// cannot change where the URI's parts end.
std::string escaped(const std::string& text) {
    return adoptString(g_uri_escape_string(text.c_str(), nullptr, FALSE));
}

std::string uriWithLogin(const ProxyRoute& route, const std::string& login) {
    const std::string scheme = route.kind == ProxyRoute::Kind::Socks5 ? "socks5" : "http";
    const std::string literal = isIPv6Literal(route.host) ? "[" + route.host + "]" : route.host;
    return scheme + "://" + login + literal + ":" + std::to_string(route.port);
}

} // namespace

std::string ProxyRoute::uri() const {
    if (username.empty())
        return uriWithLogin(*this, "");
    return uriWithLogin(*this, escaped(username) + ":" + escaped(password) + "@");
}

std::string ProxyRoute::networkSessionURI() const {
    return kind == Kind::Socks5 ? uri() : uriWithLogin(*this, "");
}

std::string ProxyRoute::identityText() const {
    if (username.empty())
        return uri();
    const std::string digest =
        adoptString(g_compute_checksum_for_string(G_CHECKSUM_SHA256, password.c_str(), -1));
    return uriWithLogin(*this, escaped(username) + ":sha256=" + digest + "@");
}

std::optional<ProxyRoute> proxyRoute(std::string_view proxyType, std::string_view proxyHost,
                                     std::optional<long long> proxyPort, std::string_view username,
                                     std::string_view password) {
    if (proxyHost.empty() || !proxyPort)
        return std::nullopt;
    ProxyRoute route;
    route.kind = proxyType == "socks5" ? ProxyRoute::Kind::Socks5 : ProxyRoute::Kind::HttpConnect;
    route.port = static_cast<std::uint16_t>(std::clamp<long long>(*proxyPort, 0, 65535));
    // A bracketed IPv6 literal ("[::1]") is what people copy from URLs; the brackets are ours.
    if (proxyHost.size() > 2 && proxyHost.front() == '[' && proxyHost.back() == ']')
        proxyHost = proxyHost.substr(1, proxyHost.size() - 2);
    if (isUsableHost(proxyHost)) {
        route.host = std::string(proxyHost);
    } else {
        route.host = std::string(kRefusingProxyHost);
        route.port = 0;
    }
    if (!username.empty()) {
        route.username = std::string(username);
        route.password = std::string(password);
    }
    return route;
}

} // namespace aurelo
