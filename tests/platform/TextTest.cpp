#include "platform/Text.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

struct TrimCase {
    const char* name;
    std::string input;
    std::string expected;
};

TEST(Text, TrimsTheWhiteSpaceBothSidesOfTheWireAgreeOn) {
    const TrimCase cases[] = {
        {"empty", "", ""},
        {"only ASCII space", " \t\n\v\f\r ", ""},
        {"ASCII around a word", "  hi \n", "hi"},
        {"interior kept", " a\nb  c ", "a\nb  c"},
        {"no-break and ideographic", "\u00a0\u3000hi there\u3000", "hi there"},
        {"line and paragraph separators", "\u2028hi\u2029", "hi"},
        {"next line", "\u0085hi\u0085", "hi"},
        {"ogham space mark", "\u1680hi\u1680", "hi"},
        {"mongolian vowel separator", "\u180ehi\u180e", "hi"},
        {"zero-width space", "\u200bhi\u200b", "hi"},
        {"only Unicode space", "\u3000\u200b\u00a0", ""},
        {"zero-width joiner is text", "\u200dhi", "\u200dhi"},
        {"CJK untouched", " 你好 ", "你好"},
        {"emoji untouched", "\t👍🏽\t", "👍🏽"},
        // Invalid UTF-8: only ASCII white space goes, every other byte is kept as it was.
        {"invalid UTF-8", std::string(" \xff\xfe ") + "\n", "\xff\xfe"},
        {"invalid with Unicode space", "\u3000\xffx", "\u3000\xffx"},
        {"embedded NUL", std::string(" a\0b ", 5), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text::trimmed(c.input), c.expected);
    }
}

TEST(Text, CaseConversionTouchesAsciiLettersOnly) {
    struct Case {
        std::string input, lower, upper;
    };
    const Case cases[] = {
        {"HTTPS", "https", "HTTPS"},
        {"Audio/OGG; codecs=opus", "audio/ogg; codecs=opus", "AUDIO/OGG; CODECS=OPUS"},
        {"3f2a-BEEF", "3f2a-beef", "3F2A-BEEF"},
        {"ÄÖ Straße Ω", "ÄÖ straße Ω", "ÄÖ STRAßE Ω"},
        {"[\\]^_`{|}~@", "[\\]^_`{|}~@", "[\\]^_`{|}~@"},
        {std::string("A\0b", 3), std::string("a\0b", 3), std::string("A\0B", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(text::asciiLowercased(c.input), c.lower);
        EXPECT_EQ(text::asciiUppercased(c.input), c.upper);
    }
}

TEST(Text, UnicodeLowerCaseFoldsNamesAndRepairsBrokenText) {
    EXPECT_EQ(text::lowercased("ÄNNE Ω"), "änne ω");
    EXPECT_EQ(text::lowercased("A\xff" "B"), "a\uFFFDb");
    EXPECT_EQ(text::lowercased(std::string("A\0B", 3)), "a\uFFFDb") << "NUL is not cut off";
}

} // namespace
} // namespace aurelo
