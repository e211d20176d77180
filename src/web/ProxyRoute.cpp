#include "web/ProxyRoute.hpp"

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

} // namespace

std::string ProxyRoute::uri() const {
    const std::string scheme = kind == Kind::Socks5 ? "socks5" : "http";
    const std::string literal = isIPv6Literal(host) ? "[" + host + "]" : host;
    return scheme + "://" + literal + ":" + std::to_string(port);
}

std::optional<ProxyRoute> proxyRoute(std::string_view proxyType, std::string_view proxyHost,
                                     std::optional<long long> proxyPort) {
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
    return route;
}

} // namespace aurelo
