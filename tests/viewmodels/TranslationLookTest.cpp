// Colour texts as the sheets and the quick-settings strip read and write them, and the language
// lists their pickers offer.

#include "viewmodels/TranslationLook.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace aurelo {
namespace {

TEST(TranslationLookTest, ColourTextsParseAfterStrippingPunctuation) {
    EXPECT_EQ(parseColorText("#FF8000"), (RgbColor{1.0, 128 / 255.0, 0.0}));
    EXPECT_EQ(parseColorText("ff8000"), parseColorText("#FF8000"));
    EXPECT_EQ(parseColorText("  #d4af37; "), parseColorText("D4AF37"));
    // Only the ends are stripped, and exactly six hexadecimal digits must remain.
    EXPECT_FALSE(parseColorText("#FF 800"));
    EXPECT_FALSE(parseColorText("#FFF"));
    EXPECT_FALSE(parseColorText("#FF80001"));
    EXPECT_FALSE(parseColorText("#GG8000"));
    EXPECT_FALSE(parseColorText(""));
    EXPECT_EQ(colorForText("not a colour"), kGoldFallbackColor);
}

TEST(TranslationLookTest, ColoursAreWrittenAsUpperCaseHexTruncated) {
    EXPECT_EQ(colorText({1.0, 0.5, 0.0}), "#FF7F00"); // 127.5 truncates to 127
    EXPECT_EQ(colorText(*parseColorText("#d4af37")), "#D4AF37");
    EXPECT_EQ(colorText({1.4, -0.2, 0.999}), "#FF00FE"); // out-of-range components clamp
}

TEST(TranslationLookTest, OutgoingPickerNeverOffersChineseOrAutomatic) {
    const auto input = pickerLanguages(LanguagePicker::Input);
    const auto outgoing = pickerLanguages(LanguagePicker::Outgoing);
    const auto incoming = pickerLanguages(LanguagePicker::Incoming);
    EXPECT_EQ(outgoing.size() + 2, input.size());
    EXPECT_EQ(std::ranges::count(outgoing, ChatLanguage::Chinese), 0);
    EXPECT_EQ(std::ranges::count(outgoing, ChatLanguage::Automatic), 0);
    EXPECT_EQ(std::ranges::count(incoming, ChatLanguage::Automatic), 0);
    EXPECT_EQ(incoming.size() + 1, input.size());
}

} // namespace
} // namespace aurelo
