#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

// The one proxy a session's whole network traffic goes through. There is deliberately no
// fail-over: when the proxy cannot be reached, loads fail instead of going out directly.
struct ProxyRoute {
    enum class Kind { Socks5, HttpConnect };

    Kind kind = Kind::HttpConnect;
    // An IPv4 or IPv6 literal (without brackets) or a host name in ASCII: see proxyURIHost.
    std::string host;
    std::uint16_t port = 0;
    // The proxy's login; none when `username` is empty. SOCKS5 offers it with the user/password
    // method, an HTTP proxy receives it as Basic credentials on the requests sent to it.
    std::string username = {};
    std::string password = {};

    // The proxy URI: "socks5://host:port" or "http://host:port", with "user:password@" before
    // the host when there is a login (both percent-encoded; GIO decodes them again before it
    // talks to the proxy). GIO's SOCKS5 client sends the destination host name to the proxy
    // rather than resolving it here (the "socks5h" behaviour), so name lookups do not leak past
    // the proxy.
    std::string uri() const;
    // The URI without the password, with a digest of it in its place: what tells one route
    // from another wherever text about a page may be kept or shown.
    std::string identityText() const;
    // The URI without the login.
    std::string uriWithoutLogin() const;

    friend bool operator==(const ProxyRoute&, const ProxyRoute&) = default;
};

// Why fields that name a proxy make no route. Such an account must not load at all: there is
// no proxy to send it through, and going direct is the one thing its proxy was set up to avoid.
inline constexpr std::string_view kInvalidProxyHost = "代理主机无效：请只填写主机名或 IP 地址";

// Why a proxy did not carry a connection, in the user's words: the same lines in the tab's
// health, the page area and "测试代理".
inline constexpr std::string_view kProxyUnreachable = "无法连接代理";
inline constexpr std::string_view kProxyLoginRefused = "代理认证失败，请检查代理用户名和密码";
inline constexpr std::string_view kProxyRefusedDestination = "代理拒绝了目标地址";

// What a session's proxy fields make: no proxy (nullopt: the host is empty or the port absent),
// a route, or the reason they make none.
using SessionProxy = std::expected<std::optional<ProxyRoute>, std::string>;

// The host as a proxy URI carries it: an IPv4 literal, an IPv6 literal (brackets typed around
// it are taken off), or a host name, an internationalised one converted to ASCII. Nothing else:
// no port, no login, no blank or control character, no full-width punctuation, no label that is
// not letters, digits, "-" and "_", no name whose last label is all digits (a mistyped address
// that the resolver would read as some other address).
std::optional<std::string> proxyURIHost(std::string_view host);

// The route for a session's proxy fields: the port clamped to 0..65535; SOCKS5 exactly for the
// type "socks5", HTTP CONNECT for any other. A password without a user name is no login and is
// left out. The URI built from the route is parsed again and must name the same host and port.
SessionProxy proxyRoute(std::string_view proxyType, std::string_view proxyHost,
                        std::optional<long long> proxyPort, std::string_view username = {},
                        std::string_view password = {});

} // namespace aurelo
