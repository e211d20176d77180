#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace aurelo {

// The languages of chat translation. The code is what sessions store, what the page script
// receives and what every translation request names as its target; the title is the picker label.
enum class ChatLanguage {
    Automatic, Chinese, English, Spanish, French, German, Italian, Portuguese,
    Japanese, Korean, Arabic, Russian, Thai, Vietnamese, Indonesian, Turkish,
    Dutch, Polish, Hindi, Hebrew, Swedish, Norwegian, Danish, Finnish,
    Greek, Czech, Romanian, Ukrainian, Malay, Filipino, Bengali, Urdu,
};

struct ChatLanguageInfo {
    ChatLanguage language;
    std::string_view code;
    std::string_view title;
};

inline constexpr std::array<ChatLanguageInfo, 32> kChatLanguages{{
    {ChatLanguage::Automatic, "auto", "自动检测"},
    {ChatLanguage::Chinese, "zh-CN", "简体中文"},
    {ChatLanguage::English, "en", "英语"},
    {ChatLanguage::Spanish, "es", "西班牙语"},
    {ChatLanguage::French, "fr", "法语"},
    {ChatLanguage::German, "de", "德语"},
    {ChatLanguage::Italian, "it", "意大利语"},
    {ChatLanguage::Portuguese, "pt", "葡萄牙语"},
    {ChatLanguage::Japanese, "ja", "日语"},
    {ChatLanguage::Korean, "ko", "韩语"},
    {ChatLanguage::Arabic, "ar", "阿拉伯语"},
    {ChatLanguage::Russian, "ru", "俄语"},
    {ChatLanguage::Thai, "th", "泰语"},
    {ChatLanguage::Vietnamese, "vi", "越南语"},
    {ChatLanguage::Indonesian, "id", "印度尼西亚语"},
    {ChatLanguage::Turkish, "tr", "土耳其语"},
    {ChatLanguage::Dutch, "nl", "荷兰语"},
    {ChatLanguage::Polish, "pl", "波兰语"},
    {ChatLanguage::Hindi, "hi", "印地语"},
    {ChatLanguage::Hebrew, "he", "希伯来语"},
    {ChatLanguage::Swedish, "sv", "瑞典语"},
    {ChatLanguage::Norwegian, "no", "挪威语"},
    {ChatLanguage::Danish, "da", "丹麦语"},
    {ChatLanguage::Finnish, "fi", "芬兰语"},
    {ChatLanguage::Greek, "el", "希腊语"},
    {ChatLanguage::Czech, "cs", "捷克语"},
    {ChatLanguage::Romanian, "ro", "罗马尼亚语"},
    {ChatLanguage::Ukrainian, "uk", "乌克兰语"},
    {ChatLanguage::Malay, "ms", "马来语"},
    {ChatLanguage::Filipino, "tl", "菲律宾语"},
    {ChatLanguage::Bengali, "bn", "孟加拉语"},
    {ChatLanguage::Urdu, "ur", "乌尔都语"},
}};

constexpr std::string_view code(ChatLanguage language) {
    return kChatLanguages[static_cast<std::size_t>(language)].code;
}

constexpr std::string_view title(ChatLanguage language) {
    return kChatLanguages[static_cast<std::size_t>(language)].title;
}

constexpr std::optional<ChatLanguage> chatLanguageFromCode(std::string_view code) {
    for (const auto& info : kChatLanguages)
        if (info.code == code)
            return info.language;
    return std::nullopt;
}

// The target of the translation box; its raw values are names, not language codes.
enum class TargetLanguage { Automatic, English, Chinese };

constexpr std::string_view rawValue(TargetLanguage target) {
    switch (target) {
    case TargetLanguage::Automatic:
        return "automatic";
    case TargetLanguage::English:
        return "english";
    case TargetLanguage::Chinese:
        return "chinese";
    }
    return "automatic";
}

constexpr std::string_view title(TargetLanguage target) {
    switch (target) {
    case TargetLanguage::Automatic:
        return "自动（中↔英）";
    case TargetLanguage::English:
        return "英语";
    case TargetLanguage::Chinese:
        return "简体中文";
    }
    return "自动（中↔英）";
}

constexpr std::optional<TargetLanguage> targetLanguageFromRawValue(std::string_view raw) {
    for (auto target : {TargetLanguage::Automatic, TargetLanguage::English, TargetLanguage::Chinese})
        if (rawValue(target) == raw)
            return target;
    return std::nullopt;
}

// The window's look: follow the desktop, or force light or dark.
enum class AppAppearance { System, Light, Dark };

constexpr std::string_view rawValue(AppAppearance appearance) {
    switch (appearance) {
    case AppAppearance::System:
        return "system";
    case AppAppearance::Light:
        return "light";
    case AppAppearance::Dark:
        return "dark";
    }
    return "system";
}

constexpr std::optional<AppAppearance> appAppearanceFromRawValue(std::string_view raw) {
    for (auto appearance : {AppAppearance::System, AppAppearance::Light, AppAppearance::Dark})
        if (rawValue(appearance) == raw)
            return appearance;
    return std::nullopt;
}

} // namespace aurelo
