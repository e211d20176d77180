#include "update/PackageURL.hpp"

#include "platform/GRef.hpp"
#include "platform/UriRef.hpp"

#include <glib.h>

#include <memory>
#include <optional>

namespace aurelo {

namespace {

std::optional<std::string> hostOf(GUri* uri) {
    const char* host = g_uri_get_host(uri);
    if (!host || !*host)
        return std::nullopt;
    return std::string(host);
}

// The extension of the last path segment, as a file name's: "a.zip" gives "zip", ".zip" (a
// name that is only an extension) and "a" give none.
std::string pathExtension(std::string_view path) {
    auto slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {};
    return std::string(name.substr(dot + 1));
}

} // namespace

std::expected<std::string, UpdateError> resolvePackageURL(std::string_view manifestURL,
                                                          std::string_view downloadPath) {
    const auto invalid = std::unexpected(UpdateError::invalidPackageURL());
    std::string base(manifestURL);
    std::string relative(downloadPath);
    if (relative.find('\0') != std::string::npos)
        return invalid;
    // An address with a scheme of its own must name a host: without one ("https:/..//x.zip")
    // the resolved path can start with "//", on which GLib's resolver asserts.
    if (g_uri_peek_scheme(relative.c_str())) {
        const UriRef own = parseUri(relative);
        if (!own || !hostOf(own.get()))
            return invalid;
    }
    GErrorHolder error;
    const GCharPtr resolved(
        g_uri_resolve_relative(base.c_str(), relative.c_str(), G_URI_FLAGS_NONE, error.out()));
    if (!resolved)
        return invalid;
    const std::string absolute(resolved.get());

    const UriRef packageURI = parseUri(absolute);
    const UriRef manifestURI = parseUri(base);
    if (!packageURI || !manifestURI)
        return invalid;
    const char* scheme = g_uri_get_scheme(packageURI.get());
    if (!scheme || g_ascii_strcasecmp(scheme, "https") != 0)
        return invalid;
    if (hostOf(packageURI.get()) != hostOf(manifestURI.get()))
        return invalid;
    if (pathExtension(g_uri_get_path(packageURI.get())) != "zip")
        return invalid;
    return absolute;
}

} // namespace aurelo
