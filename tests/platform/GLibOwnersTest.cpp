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
        SCOPED_TRACE(c.text);
        const UriRef uri = parseUri(c.text);
        if (!c.host) {
            EXPECT_FALSE(uri);
            continue;
        }
        ASSERT_TRUE(uri);
        EXPECT_STREQ(g_uri_get_host(uri.get()), c.host);
    }
}

} // namespace
} // namespace aurelo
