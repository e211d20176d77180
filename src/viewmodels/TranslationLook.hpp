#pragma once

// The choices of an account's translation look and languages, shared by the new-account sheet,
// the per-account settings sheet, the quick-settings strip and the settings page; and the rules
// that turn a stored colour text into a colour and back.

#include "models/ChatLanguage.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

// The translation colours offered as swatches, in order; "自定义" opens a free picker.
inline constexpr std::array<std::string_view, 7> kTranslationColorSwatches{
    "#D4AF37", "#F2C94C", "#FFFFFF", "#18A058", "#2563EB", "#A855F7", "#EF4444"};

// The translation font sizes offered, in points; each is labelled by fontSizeLabel.
inline constexpr std::array<int, 6> kTranslationFontSizes{12, 14, 16, 18, 20, 22};

// "18 px".
std::string fontSizeLabel(int size);

struct RgbColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    friend bool operator==(const RgbColor&, const RgbColor&) = default;
};

// The colour shown when a stored colour text does not parse.
inline constexpr RgbColor kGoldFallbackColor{0.83, 0.69, 0.22};

// A colour text with anything but letters and digits stripped from both ends must leave exactly
// six hexadecimal digits (either case); nullopt otherwise.
std::optional<RgbColor> parseColorText(std::string_view text);
// parseColorText, or the gold fall-back.
RgbColor colorForText(std::string_view text);
// "#" and two upper-case hexadecimal digits per component, each component (clamped to 0…1)
// multiplied by 255 and truncated.
std::string colorText(const RgbColor& color);

// Which languages a picker offers, in catalogue order.
enum class LanguagePicker {
    Input,    // all of them
    Outgoing, // neither automatic nor Chinese: text is never sent in Chinese
    Incoming, // all but automatic: a translation needs a definite target
};
std::vector<ChatLanguage> pickerLanguages(LanguagePicker picker);

} // namespace aurelo
