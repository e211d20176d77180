#include "viewmodels/WebsiteForm.hpp"

#include "platform/Text.hpp"
#include "platform/UriRef.hpp"

#include <gio/gio.h>
#include <glib.h>

#include <algorithm>

namespace aurelo {

namespace {

// Loopback, link-local and private addresses, and names that only this machine or its network
// knows: what a scheme-less address means on a shop's own network is plain HTTP.
bool isLocalHost(const std::string& host) {
    const std::string name = text::asciiLowercased(host);
    if (name == "localhost" || name.ends_with(".localhost") || name.ends_with(".local"))
        return true;
    GInetAddress* address = g_inet_address_new_from_string(name.c_str());
    if (!address)
        return false;
    const bool local = g_inet_address_get_is_loopback(address) ||
                       g_inet_address_get_is_site_local(address) ||
                       g_inet_address_get_is_link_local(address);
    g_object_unref(address);
    return local;
}

} // namespace

WebsiteForm::WebsiteForm(SessionStore& store, std::function<void()> saved)
    : m_store(store), m_saved(std::move(saved)) {}

void WebsiteForm::setName(std::string value) {
    assign(m_name, std::move(value), Field::Name);
    // The line says what is wrong now, not what was wrong at the last try.
    if (m_error == kNameMissing && !text::trimmed(m_name).empty())
        assign(m_error, std::string(), Field::Error);
}

void WebsiteForm::setAddress(std::string value) {
    assign(m_address, std::move(value), Field::Address);
    if (m_error == kAddressInvalid)
        assign(m_error, std::string(), Field::Error);
}

void WebsiteForm::open() {
    setName("");
    setAddress("");
    assign(m_error, std::string(), Field::Error);
    setShowing(true);
}

void WebsiteForm::save() {
    const std::string name = text::trimmed(m_name);
    if (name.empty()) {
        assign(m_error, std::string(kNameMissing), Field::Error);
        return;
    }
    const auto address = normalizedAddress(m_address);
    if (!address) {
        assign(m_error, std::string(kAddressInvalid), Field::Error);
        return;
    }
    m_store.addWebsite(name, *address);
    setShowing(false);
    if (m_saved)
        m_saved();
}

std::string WebsiteForm::schemeNote(std::string_view typed) {
    if (typed.find("://") != std::string_view::npos)
        return {};
    const auto address = normalizedAddress(typed);
    return address ? "将以 " + *address + " 打开" : std::string();
}

std::optional<std::string> WebsiteForm::normalizedAddress(std::string_view typed) {
    std::string address = text::trimmed(typed);
    if (address.find("://") == std::string::npos) {
        const UriRef guess = parseUri("http://" + address);
        const char* host = guess ? g_uri_get_host(guess.get()) : nullptr;
        address = (host && isLocalHost(host) ? "http://" : "https://") + address;
    }
    // GLib's parser lets blanks and control characters through; no address may hold them.
    if (std::ranges::any_of(address, [](unsigned char c) { return c <= 0x20 || c == 0x7F; }))
        return std::nullopt;
    const UriRef uri = parseUri(address);
    if (!uri)
        return std::nullopt;
    const char* scheme = g_uri_get_scheme(uri.get());
    const char* host = g_uri_get_host(uri.get());
    const bool web =
        g_ascii_strcasecmp(scheme, "https") == 0 || g_ascii_strcasecmp(scheme, "http") == 0;
    if (!web || !host || !*host)
        return std::nullopt;
    return address;
}

} // namespace aurelo
