#include "web/ProxyRoute.hpp"

#include "platform/GRef.hpp"

#include <glib.h>

#include <algorithm>
#include <ranges>

namespace aurelo {

namespace {

bool isLabelCharacter(char c) {
    return g_ascii_isalnum(c) || c == '-' || c == '_';
}

// An ASCII host name: labels of 1–63 letters, digits, "-" and "_" (which some proxy sellers'
// names carry), 253 characters at most, and a last label that is not all digits.
bool isASCIIHostName(std::string_view name) {
    if (name.empty() || name.size() > 253)
        return false;
    std::string_view last;
    for (const auto part : std::views::split(name, '.')) {
        const std::string_view label(part.begin(), part.end());
        if (label.empty() || label.size() > 63 || !std::ranges::all_of(label, isLabelCharacter))
            return false;
        last = label;
    }
    return !std::ranges::all_of(last, [](char c) { return g_ascii_isdigit(c); });
}

// Every character but the unreserved ones percent-encoded, so that ":", "@" or "/" in a login
// cannot change where the URI's parts end.
std::string escaped(const std::string& text) {
    return adoptString(g_uri_escape_string(text.c_str(), nullptr, FALSE));
}

std::string uriWithLogin(const ProxyRoute& route, const std::string& login) {
    const std::string scheme = route.kind == ProxyRoute::Kind::Socks5 ? "socks5" : "http";
    const bool ipv6 = route.host.find(':') != std::string::npos;
    const std::string literal = ipv6 ? "[" + route.host + "]" : route.host;
    return scheme + "://" + login + literal + ":" + std::to_string(route.port);
}

// The URI read back as GIO and WebKit will read it names the route's own host and port.
bool uriNamesRoute(const std::string& uri, const ProxyRoute& route) {
    GErrorHolder error;
    GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_ENCODED, error.out());
    if (!parsed)
        return false;
    const char* host = g_uri_get_host(parsed);
    const bool same = host && route.host == host && g_uri_get_port(parsed) == route.port &&
                      g_uri_get_path(parsed) && *g_uri_get_path(parsed) == '\0';
    g_uri_unref(parsed);
    return same;
}

} // namespace

std::optional<std::string> proxyURIHost(std::string_view typed) {
    if (typed.empty() || !g_utf8_validate(typed.data(), static_cast<gssize>(typed.size()), nullptr))
        return std::nullopt;
    // A bracketed IPv6 literal ("[::1]") is what people copy from URLs; the brackets are ours.
    if (typed.size() > 2 && typed.front() == '[' && typed.back() == ']') {
        const std::string inner(typed.substr(1, typed.size() - 2));
        if (inner.find(':') == std::string::npos || !g_hostname_is_ip_address(inner.c_str()))
            return std::nullopt;
        typed = typed.substr(1, typed.size() - 2);
    }
    const std::string host(typed);
    // A scope ("fe80::1%eth0") would need escaping in a URI, and names an interface of this
    // machine rather than a proxy; none is accepted.
    if (host.find('%') != std::string::npos)
        return std::nullopt;
    if (g_hostname_is_ip_address(host.c_str()))
        return host;
    // IDNA's mapping turns full-width dots into dots and, as it does, full-width colons into
    // colons: the ASCII form is checked, not the typed one.
    const std::string ascii = adoptString(g_hostname_to_ascii(host.c_str()));
    if (ascii.empty() || g_hostname_is_ip_address(ascii.c_str()))
        return std::nullopt;
    std::string_view name = ascii;
    if (name.ends_with('.'))
        name.remove_suffix(1);
    if (!isASCIIHostName(name))
        return std::nullopt;
    return std::string(name);
}

std::string ProxyRoute::uri() const {
    if (username.empty())
        return uriWithoutLogin();
    return uriWithLogin(*this, escaped(username) + ":" + escaped(password) + "@");
}

std::string ProxyRoute::uriWithoutLogin() const {
    return uriWithLogin(*this, "");
}

std::string ProxyRoute::identityText() const {
    if (username.empty())
        return uri();
    const std::string digest =
        adoptString(g_compute_checksum_for_string(G_CHECKSUM_SHA256, password.c_str(), -1));
    return uriWithLogin(*this, escaped(username) + ":sha256=" + digest + "@");
}

SessionProxy proxyRoute(std::string_view proxyType, std::string_view proxyHost,
                        std::optional<long long> proxyPort, std::string_view username,
                        std::string_view password) {
    if (proxyHost.empty() || !proxyPort)
        return std::nullopt;
    ProxyRoute route;
    route.kind = proxyType == "socks5" ? ProxyRoute::Kind::Socks5 : ProxyRoute::Kind::HttpConnect;
    route.port = static_cast<std::uint16_t>(std::clamp<long long>(*proxyPort, 0, 65535));
    auto host = proxyURIHost(proxyHost);
    if (!host)
        return std::unexpected(std::string(kInvalidProxyHost));
    route.host = std::move(*host);
    if (!username.empty()) {
        route.username = std::string(username);
        route.password = std::string(password);
    }
    if (!uriNamesRoute(route.uri(), route))
        return std::unexpected(std::string(kInvalidProxyHost));
    return route;
}

} // namespace aurelo
