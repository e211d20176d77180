#include "viewmodels/WebsiteForm.hpp"

#include "platform/GRef.hpp"
#include "translation/TranslationService.hpp"

#include <glib.h>

#include <algorithm>

namespace aurelo {

template <> struct GRefTraits<GUri> {
    static GUri* ref(GUri* p) { return g_uri_ref(p); }
    static void unref(GUri* p) { g_uri_unref(p); }
};

WebsiteForm::WebsiteForm(SessionStore& store) : m_store(store) {}

void WebsiteForm::setName(std::string value) {
    assign(m_name, std::move(value), Field::Name);
}

void WebsiteForm::setAddress(std::string value) {
    assign(m_address, std::move(value), Field::Address);
}

void WebsiteForm::open() {
    setName("");
    setAddress("");
    assign(m_error, std::string(), Field::Error);
    setShowing(true);
}

void WebsiteForm::save() {
    const std::string name = TranslationService::trimmed(m_name);
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
}

std::optional<std::string> WebsiteForm::normalizedAddress(std::string_view typed) {
    std::string address = TranslationService::trimmed(typed);
    if (address.find("://") == std::string::npos)
        address = "https://" + address;
    // GLib's parser lets blanks and control characters through; no address may hold them.
    if (std::ranges::any_of(address, [](unsigned char c) { return c <= 0x20 || c == 0x7F; }))
        return std::nullopt;
    auto uri = adoptGRef(g_uri_parse(address.c_str(), G_URI_FLAGS_NONE, nullptr));
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
