#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

// The one proxy a session's whole network traffic goes through. There is deliberately no
// fail-over: when the proxy cannot be reached, loads fail instead of going out directly.
struct ProxyRoute {
    enum class Kind { Socks5, HttpConnect };

    Kind kind = Kind::HttpConnect;
    std::string host;
    std::uint16_t port = 0;
    // The proxy's login; none when `username` is empty. SOCKS5 offers it with the user/password
    // method, an HTTP proxy receives it as Basic credentials.
    std::string username = {};
    std::string password = {};

    // The proxy URI for WebKit's network session: "socks5://host:port" or "http://host:port",
    // with "user:password@" before the host when there is a login (both percent-encoded; GIO
    // decodes them again before it talks to the proxy).
    // GIO's SOCKS5 client sends the destination host name to the proxy rather than resolving it
    // here (the "socks5h" behaviour), so name lookups do not leak past the proxy.
    std::string uri() const;
    // The URI without the password, with a digest of it in its place: what tells one route
    // from another wherever text about a page may be kept or shown.
    std::string identityText() const;
    // The URI WebKit's network session is given. An HTTP proxy's login is left out: libsoup
    // answers a 407 with a login it finds there by itself, again and again, re-sending the
    // request to the proxy's own address; the page's host answers the challenge once instead
    // (see PageHealthMonitor::setProxyLogin). SOCKS5 takes the login from the URI.
    std::string networkSessionURI() const;

    friend bool operator==(const ProxyRoute&, const ProxyRoute&) = default;
};

// The route for a session's proxy fields: none when the host is empty or the port absent; the
// port clamped to 0..65535; SOCKS5 exactly for the type "socks5", HTTP CONNECT for any other.
//
// A host that cannot appear in a URI (spaces, "@", "/" and the like) would make the proxy URI
// unusable, and WebKit would then connect directly. Such a session is routed to a proxy address
// that refuses every connection instead, so its pages fail to load rather than leaking.
// A password without a user name is no login and is left out.
std::optional<ProxyRoute> proxyRoute(std::string_view proxyType, std::string_view proxyHost,
                                     std::optional<long long> proxyPort,
                                     std::string_view username = {},
                                     std::string_view password = {});

// Where sessions with an unusable proxy host are sent: nothing ever listens on port 0.
inline constexpr std::string_view kRefusingProxyHost = "127.0.0.1";

} // namespace aurelo
