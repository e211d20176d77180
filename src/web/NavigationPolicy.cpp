#include "web/NavigationPolicy.hpp"

#include "platform/GRef.hpp"
#include "platform/Text.hpp"

#include <glib.h>

#include <array>
#include <string>

namespace aurelo {

bool isNavigableURI(std::string_view uri) {
    // g_uri_parse_scheme() lower-cases nothing and accepts only a syntactically valid scheme.
    const GCharPtr scheme(g_uri_parse_scheme(std::string(uri).c_str()));
    if (!scheme)
        return false;
    const std::string lowered = text::asciiLowercased(scheme.get());
    constexpr std::array<std::string_view, 4> kAllowed{"https", "http", "blob", "data"};
    for (auto allowed : kAllowed)
        if (lowered == allowed)
            return true;
    return false;
}

} // namespace aurelo
