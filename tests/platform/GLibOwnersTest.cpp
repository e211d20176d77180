#include "platform/GRef.hpp"
#include "platform/UriRef.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

TEST(GLibOwners, ParsesOnlyWholeAbsoluteAddresses) {
    struct Case {
        std::string text;
        const char* host; // nullptr: refused
    };
    const Case cases[] = {
        {"https://Example.com:8443/path?q=1", "Example.com"},
        {"http://127.0.0.1/", "127.0.0.1"},
        {"relative/path", nullptr},
        {"", nullptr},
        // Cutting at the NUL would leave a valid address naming a different host.
        {std::string("https://good.example\0.evil.example/", 35), nullptr},
    };
    for (const auto& c : cases) {
        const UriRef uri = parseUri(c.text);
        EXPECT_STREQ(uri ? g_uri_get_host(uri.get()) : nullptr, c.host) << c.text;
    }
}

} // namespace
} // namespace aurelo
