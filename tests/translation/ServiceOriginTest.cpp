#include "translation/AureloServiceURL.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

TEST(ServiceOrigin, AcceptsHttpsAndLoopbackHttpOnly) {
    struct Case {
        const char* origin;
        const char* expected; // nullptr: refused
    } cases[] = {
        {"https://translate.example.com", "https://translate.example.com"},
        {"https://translate.example.com/", "https://translate.example.com"},
        {"HTTPS://translate.example.com:8443", "HTTPS://translate.example.com:8443"},
        {"http://127.0.0.1:8787", "http://127.0.0.1:8787"},
        {"http://127.1.2.3:8787/", "http://127.1.2.3:8787"},
        {"http://localhost:9000", "http://localhost:9000"},
        {"http://[::1]:9000", "http://[::1]:9000"},
        {"http://translate.example.com", nullptr},
        {"http://127.0.0.1.example.com", nullptr},
        {"http://10.0.0.1", nullptr},
        {"ftp://translate.example.com", nullptr},
        {"https://translate.example.com/api", nullptr},
        {"https://translate.example.com/?q=1", nullptr},
        {"https://user:pw@translate.example.com", nullptr},
        {"translate.example.com", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(validateServiceOrigin(c.origin).value_or("(refused)"),
                  c.expected ? c.expected : "(refused)")
            << c.origin;
    EXPECT_NE(validateServiceOrigin("http://example.com").error().find("https"), std::string::npos);
}

} // namespace
} // namespace aurelo
