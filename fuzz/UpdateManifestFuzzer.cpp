// The update manifest as the service publishes it, decoded, and its package address resolved
// against the manifest's own address. GLib criticals end the run: GLib's URI functions assert on
// some malformed input instead of returning an error, and an assertion here is a crash in the
// application (it runs with G_DEBUG=fatal-criticals too).

#include "FuzzSupport.hpp"

#include "platform/GRef.hpp"
#include "platform/UriRef.hpp"
#include "update/PackageURL.hpp"
#include "update/UpdateManifest.hpp"

#include <glib.h>

#include <array>
#include <string>

namespace {

using aurelo::fuzz::require;

constexpr std::array kManifestURLs = {
    "https://updates.aurelo.example/updates/latest.json",
    "https://[::1]:8443/a/b/../updates/latest.json?x=1#y",
    "http://127.0.0.1:8787/updates/latest.json",
};

void resolve(const char* manifestURL, std::string_view downloadPath) {
    const auto resolved = aurelo::resolvePackageURL(manifestURL, downloadPath);
    if (!resolved)
        return;
    // What is accepted is an https address on the manifest's host, naming a .zip.
    const aurelo::UriRef package = aurelo::parseUri(*resolved);
    const aurelo::UriRef manifest = aurelo::parseUri(manifestURL);
    require(package && manifest, "an accepted package address does not parse");
    require(g_ascii_strcasecmp(g_uri_get_scheme(package.get()), "https") == 0,
            "an accepted package address is not https");
    const char* host = g_uri_get_host(package.get());
    require(host && *host && g_strcmp0(host, g_uri_get_host(manifest.get())) == 0,
            "an accepted package address is on another host");
    require(std::string_view(g_uri_get_path(package.get())).ends_with(".zip"),
            "an accepted package address does not name a .zip");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    aurelo::fuzz::installGLibLogPolicy();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = aurelo::fuzz::asText(data, size);
    if (const auto manifest = aurelo::decodeUpdateManifest(input)) {
        for (const char* url : kManifestURLs)
            resolve(url, manifest->downloadPath);
        (void)aurelo::runningBuildNumber(manifest->version);
    }
    // The address on its own as well, so that the resolver sees every byte string and not only
    // those inside a well-formed manifest.
    for (const char* url : kManifestURLs)
        resolve(url, input);
    (void)aurelo::parseDecimalInteger(input);
    return 0;
}
