#include "web/ProxyLine.hpp"

#include "platform/GRef.hpp"
#include "platform/Text.hpp"

#include <glib.h>

#include <algorithm>

namespace aurelo {

namespace {

using Parsed = std::expected<ProxyLine, std::string>;

// No seller's line comes near this; a longer paste is something else from the clipboard.
constexpr std::size_t kMaximumLength = 1024;

std::unexpected<std::string> refused(std::string_view reason = kInvalidProxyHost) {
    return std::unexpected(std::string(reason));
}

bool isDigits(std::string_view text) {
    return !text.empty() && std::ranges::all_of(text, [](char c) { return g_ascii_isdigit(c); });
}

// A URL scheme's name: a letter, then letters, digits, "+", "-" and ".".
bool isSchemeName(std::string_view text) {
    return !text.empty() && g_ascii_isalpha(text.front()) && std::ranges::all_of(text, [](char c) {
        return g_ascii_isalnum(c) || c == '+' || c == '-' || c == '.';
    });
}

// Valid UTF-8 with no control character (line breaks and tabs included) anywhere in it.
bool isPlainText(std::string_view text) {
    const char* end = text.data() + text.size();
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return false;
    for (const char* p = text.data(); p < end; p = g_utf8_next_char(p))
        if (g_unichar_iscntrl(g_utf8_get_char(p)))
            return false;
    return true;
}

// A Chinese input method types "：" and "＠" where the line means ":" and "@".
std::string withASCIIPunctuation(std::string_view text) {
    std::string ascii;
    ascii.reserve(text.size());
    while (!text.empty()) {
        if (text.starts_with("：") || text.starts_with("＠")) {
            ascii += text.starts_with("：") ? ':' : '@';
            text.remove_prefix(std::string_view("：").size());
        } else {
            ascii += text.front();
            text.remove_prefix(1);
        }
    }
    return ascii;
}

// A login part of a URL, percent-decoded; nothing when an escape is broken or decodes to
// something that is not plain text (a NUL, a line break, invalid UTF-8).
std::optional<std::string> decoded(std::string_view part) {
    gchar* raw = g_uri_unescape_segment(part.data(), part.data() + part.size(), nullptr);
    if (!raw)
        return std::nullopt;
    std::string text = adoptString(raw);
    if (!isPlainText(text))
        return std::nullopt;
    return text;
}

// Reads "host:port" at the start of `text`, the host in brackets when it is an IPv6 literal;
// `rest` receives what follows a ":" after the port, if anything does.
bool readAddress(std::string_view text, ProxyLine& line, std::optional<std::string_view>& rest) {
    std::string_view host;
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos)
            return false;
        host = text.substr(1, close - 1);
        text.remove_prefix(close + 1);
        // Brackets belong around an IPv6 literal and nothing else.
        if (host.find(':') == std::string_view::npos || !text.starts_with(':'))
            return false;
        text.remove_prefix(1);
    } else {
        const auto colon = text.find(':');
        if (colon == std::string_view::npos)
            return false;
        host = text.substr(0, colon);
        text.remove_prefix(colon + 1);
    }
    const auto colon = text.find(':');
    const std::string_view port = text.substr(0, colon);
    if (!isDigits(port) || !proxyURIHost(host))
        return false;
    line.host = std::string(host);
    line.port = std::string(port);
    rest = colon == std::string_view::npos ? std::nullopt : std::optional(text.substr(colon + 1));
    return true;
}

// "user:password" before an "@": the password runs from the first ":" on.
bool readLogin(std::string_view login, bool percentEncoded, ProxyLine& line) {
    const auto colon = login.find(':');
    const std::string_view user = login.substr(0, colon);
    const std::string_view password =
        colon == std::string_view::npos ? std::string_view() : login.substr(colon + 1);
    if (user.empty())
        return false;
    if (!percentEncoded) {
        line.username = std::string(user);
        line.password = std::string(password);
        return true;
    }
    auto decodedUser = decoded(user);
    auto decodedPassword = decoded(password);
    if (!decodedUser || decodedUser->empty() || !decodedPassword)
        return false;
    line.username = std::move(*decodedUser);
    line.password = std::move(*decodedPassword);
    return true;
}

// "[login@]host:port", the login percent-encoded in a URL.
std::optional<ProxyLine> readAtForm(std::string_view text, bool percentEncoded) {
    ProxyLine line;
    std::optional<std::string_view> rest;
    // The host has no "@"; one in the password is the seller's.
    const auto at = text.rfind('@');
    if (at != std::string_view::npos && !readLogin(text.substr(0, at), percentEncoded, line))
        return std::nullopt;
    if (!readAddress(at == std::string_view::npos ? text : text.substr(at + 1), line, rest) || rest)
        return std::nullopt;
    return line;
}

// "host:port:user:password": everything after the third colon is the password.
std::optional<ProxyLine> readColonForm(std::string_view text) {
    ProxyLine line;
    std::optional<std::string_view> rest;
    if (!readAddress(text, line, rest))
        return std::nullopt;
    if (rest) {
        const auto colon = rest->find(':');
        // "host:port:user" could as well be a password without its user name.
        if (colon == std::string_view::npos || colon == 0)
            return std::nullopt;
        line.username = std::string(rest->substr(0, colon));
        line.password = std::string(rest->substr(colon + 1));
    }
    return line;
}

} // namespace

Parsed ProxyLine::parse(std::string_view pasted) {
    if (pasted.size() > kMaximumLength ||
        !g_utf8_validate(pasted.data(), static_cast<gssize>(pasted.size()), nullptr))
        return refused();
    const std::string text = withASCIIPunctuation(text::trimmed(pasted));
    if (text.empty() || !isPlainText(text))
        return refused();
    if (proxyURIHost(text)) {
        // Checked first, so that an IPv6 literal is never split at one of its own colons.
        ProxyLine line;
        line.host = text;
        return line;
    }

    std::string_view rest = text;
    const auto separator = rest.find("://");
    if (separator != std::string_view::npos && isSchemeName(rest.substr(0, separator))) {
        const std::string scheme = text::asciiLowercased(rest.substr(0, separator));
        std::optional<ProxyRoute::Kind> kind;
        if (scheme == "socks5" || scheme == "socks5h")
            kind = ProxyRoute::Kind::Socks5;
        else if (scheme == "http")
            kind = ProxyRoute::Kind::HttpConnect;
        else if (scheme == "https")
            return refused(kHTTPSProxyUnsupported);
        else
            return refused(kProxySchemeUnsupported);
        rest.remove_prefix(separator + 3);
        if (rest.ends_with('/'))
            rest.remove_suffix(1);
        auto line = readAtForm(rest, true);
        if (!line)
            return refused();
        line->kind = kind;
        return *line;
    }

    // Without a scheme a line could be read both ways ("a:1:b:c@d:2"); such a line is refused,
    // as is one whose login looks like an address and port ("1.2.3.4:80:5.6.7.8:3128"), which
    // some sellers write as user:password:host:port.
    auto colonForm = readColonForm(rest);
    auto atForm = rest.find('@') == std::string_view::npos ? std::nullopt : readAtForm(rest, false);
    if (colonForm.has_value() == atForm.has_value())
        return refused();
    ProxyLine line = colonForm ? std::move(*colonForm) : std::move(*atForm);
    if (g_hostname_is_ip_address(line.username.c_str()) && isDigits(line.password))
        return refused();
    return line;
}

} // namespace aurelo
