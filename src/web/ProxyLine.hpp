#pragma once

// A proxy as sellers hand it out on one line, read from what was pasted into the host field.

#include "web/ProxyRoute.hpp"

#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

// What a pasted line names. The forms read are:
//   host                          (a host name, IDN, IPv4, or IPv6 with or without brackets)
//   host:port
//   host:port:user:password       (everything after the third colon is the password)
//   user:password@host:port       (the password runs to the last "@")
//   socks5://…, socks5h://…, http://…   with "user:password@" percent-encoded, and "/" at the end
// with an IPv6 host in brackets wherever a port follows it. Full-width "：" and "＠" count as
// their ASCII forms and blanks around the line are dropped. A line that fits none of them, or
// whose host is refused by proxyURIHost, is refused as a whole: half of a line guessed at would
// send the account through some other proxy than the one bought.
struct ProxyLine {
    // Only the URL forms say which kind of proxy it is.
    std::optional<ProxyRoute::Kind> kind;
    // As written, without the brackets around an IPv6 literal that carries a port.
    std::string host;
    // ASCII digits as written; empty for a bare host. Its range is the port field's rule.
    std::string port;
    std::string username = {};
    std::string password = {};

    // A host alone says no more than the host field already holds.
    bool bareHost() const { return port.empty(); }

    // The line read, or why it cannot be: kInvalidProxyHost, or one of the two reasons below
    // for a URL whose scheme names a proxy this application cannot use.
    static std::expected<ProxyLine, std::string> parse(std::string_view pasted);

    friend bool operator==(const ProxyLine&, const ProxyLine&) = default;
};

// A route talks to its proxy by SOCKS5 or by plain HTTP CONNECT. An "https://" line asks for TLS
// to the proxy itself; read as HTTP, the login would cross the network in the clear.
inline constexpr std::string_view kHTTPSProxyUnsupported =
    "不支持 HTTPS 代理：请改用 HTTP CONNECT 或 SOCKS5 代理";
inline constexpr std::string_view kProxySchemeUnsupported =
    "不支持此代理类型：请改用 HTTP CONNECT 或 SOCKS5 代理";

} // namespace aurelo
