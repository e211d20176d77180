#include "viewmodels/TranslationLook.hpp"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace aurelo {

std::string fontSizeLabel(int size) {
    return std::to_string(size) + " px";
}

std::optional<RgbColor> parseColorText(std::string_view text) {
    const auto isAlnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && !isAlnum(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && !isAlnum(text.back()))
        text.remove_suffix(1);
    if (text.size() != 6)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        value = value * 16 + unsigned(g_ascii_xdigit_value(c));
    }
    return RgbColor{((value >> 16) & 255) / 255.0, ((value >> 8) & 255) / 255.0,
                    (value & 255) / 255.0};
}

RgbColor colorForText(std::string_view text) {
    return parseColorText(text).value_or(kGoldFallbackColor);
}

std::string colorText(const RgbColor& color) {
    const auto component = [](double value) {
        return static_cast<int>(std::clamp(value, 0.0, 1.0) * 255);
    };
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X", component(color.red),
                  component(color.green), component(color.blue));
    return buffer;
}

std::vector<ChatLanguage> pickerLanguages(LanguagePicker picker) {
    std::vector<ChatLanguage> languages;
    for (const auto& info : kChatLanguages) {
        if (picker != LanguagePicker::Input && info.language == ChatLanguage::Automatic)
            continue;
        if (picker == LanguagePicker::Outgoing && info.language == ChatLanguage::Chinese)
            continue;
        languages.push_back(info.language);
    }
    return languages;
}

} // namespace aurelo
