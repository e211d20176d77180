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

    // The proxy URI for WebKit's network session: "socks5://host:port" or "http://host:port".
    // GIO's SOCKS5 client sends the destination host name to the proxy rather than resolving it
    // here (the "socks5h" behaviour), so name lookups do not leak past the proxy.
    std::string uri() const;

    friend bool operator==(const ProxyRoute&, const ProxyRoute&) = default;
};

// The route for a session's proxy fields: none when the host is empty or the port absent; the
// port clamped to 0..65535; SOCKS5 exactly for the type "socks5", HTTP CONNECT for any other.
//
// A host that cannot appear in a URI (spaces, "@", "/" and the like) would make the proxy URI
// unusable, and WebKit would then connect directly. Such a session is routed to a proxy address
// that refuses every connection instead, so its pages fail to load rather than leaking.
std::optional<ProxyRoute> proxyRoute(std::string_view proxyType, std::string_view proxyHost,
                                     std::optional<long long> proxyPort);

// Where sessions with an unusable proxy host are sent: nothing ever listens on port 0.
inline constexpr std::string_view kRefusingProxyHost = "127.0.0.1";

} // namespace aurelo
