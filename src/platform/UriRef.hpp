#pragma once

// GUri is reference-counted but not a GObject; this teaches GRef its own ref/unref, so a parsed
// address is released however the function that parsed it returns.

#include "platform/GRef.hpp"

#include <string>
#include <string_view>

namespace aurelo {

template <> struct GRefTraits<GUri> {
    static GUri* ref(GUri* p) { return g_uri_ref(p); }
    static void unref(GUri* p) { g_uri_unref(p); }
};

using UriRef = GRef<GUri>;

// Parses an absolute URI (G_URI_FLAGS_NONE); empty when it is not one. Text with a NUL byte is
// refused rather than cut short at it, so "https://a.example\0.b" cannot pass for a.example.
inline UriRef parseUri(std::string_view text) {
    if (text.find('\0') != std::string_view::npos)
        return {};
    const std::string copy(text);
    return adoptGRef(g_uri_parse(copy.c_str(), G_URI_FLAGS_NONE, nullptr));
}

} // namespace aurelo
