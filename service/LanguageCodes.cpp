#include "service/LanguageCodes.hpp"

#include "platform/Text.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace aurelo::service {

namespace {

struct Language {
    std::string_view code;
    std::string_view name;
    std::string_view apertium;
    std::string_view chinese;
};

// The client's chat languages (without "auto"), with Apertium's ISO 639-3 names.
constexpr std::array kLanguages{
    Language{"zh-CN", "Simplified Chinese", "zho", "简体中文"},
    Language{"en", "English", "eng", "英语"},
    Language{"es", "Spanish", "spa", "西班牙语"},
    Language{"fr", "French", "fra", "法语"},
    Language{"de", "German", "deu", "德语"},
    Language{"it", "Italian", "ita", "意大利语"},
    Language{"pt", "Portuguese", "por", "葡萄牙语"},
    Language{"ja", "Japanese", "jpn", "日语"},
    Language{"ko", "Korean", "kor", "韩语"},
    Language{"ar", "Arabic", "ara", "阿拉伯语"},
    Language{"ru", "Russian", "rus", "俄语"},
    Language{"th", "Thai", "tha", "泰语"},
    Language{"vi", "Vietnamese", "vie", "越南语"},
    Language{"id", "Indonesian", "ind", "印度尼西亚语"},
    Language{"tr", "Turkish", "tur", "土耳其语"},
    Language{"nl", "Dutch", "nld", "荷兰语"},
    Language{"pl", "Polish", "pol", "波兰语"},
    Language{"hi", "Hindi", "hin", "印地语"},
    Language{"he", "Hebrew", "heb", "希伯来语"},
    Language{"sv", "Swedish", "swe", "瑞典语"},
    Language{"no", "Norwegian", "nob", "挪威语"},
    Language{"da", "Danish", "dan", "丹麦语"},
    Language{"fi", "Finnish", "fin", "芬兰语"},
    Language{"el", "Greek", "ell", "希腊语"},
    Language{"cs", "Czech", "ces", "捷克语"},
    Language{"ro", "Romanian", "ron", "罗马尼亚语"},
    Language{"uk", "Ukrainian", "ukr", "乌克兰语"},
    Language{"ms", "Malay", "zlm", "马来语"},
    Language{"tl", "Filipino", "tgl", "菲律宾语"},
    Language{"bn", "Bengali", "ben", "孟加拉语"},
    Language{"ur", "Urdu", "urd", "乌尔都语"},
};

} // namespace

bool isPlausibleLanguageCode(std::string_view code) {
    return code.size() >= 2 && code.size() <= 16 &&
           std::isalpha(static_cast<unsigned char>(code[0])) &&
           std::ranges::all_of(code, [](unsigned char c) { return std::isalnum(c) || c == '-'; });
}

std::string languageName(std::string_view code) {
    for (const auto& language : kLanguages)
        if (language.code == code)
            return std::string(language.name);
    return std::string(code);
}

std::optional<std::string> clientLanguageCode(std::string_view reported) {
    if (!isPlausibleLanguageCode(reported))
        return std::nullopt;
    std::string code = text::asciiLowercased(reported);
    if (code == "zh" || code.starts_with("zh-hans") || code == "zh-cn" || code == "zh-sg")
        return "zh-CN";
    if (code.starts_with("zh-"))
        return "zh-TW";
    std::string base = code.substr(0, code.find('-'));
    if (base == "iw")
        return "he";
    if (base == "nb" || base == "nn")
        return "no";
    if (base == "fil")
        return "tl";
    if (base == "in")
        return "id";
    return base;
}

std::string deeplTargetLanguage(std::string_view code) {
    // DeepL wants a regional variant for English and Portuguese targets and calls Norwegian
    // Bokmål "NB".
    if (code == "en")
        return "EN-US";
    if (code == "pt")
        return "PT-BR";
    if (code == "zh-CN")
        return "ZH-HANS";
    if (code == "no")
        return "NB";
    return text::asciiUppercased(code);
}

std::string microsoftLanguage(std::string_view code) {
    if (code == "zh-CN")
        return "zh-Hans";
    if (code == "no")
        return "nb";
    if (code == "tl")
        return "fil";
    return std::string(code);
}

std::string chineseLanguageName(std::string_view code) {
    for (const auto& language : kLanguages)
        if (language.code == code)
            return std::string(language.chinese);
    return std::string(code);
}

std::optional<std::string> apertiumLanguage(std::string_view clientCode) {
    for (const auto& language : kLanguages)
        if (language.code == clientCode)
            return std::string(language.apertium);
    return std::nullopt;
}

std::optional<std::string> clientCodeForApertium(std::string_view apertiumCode) {
    for (const auto& language : kLanguages)
        if (language.apertium == apertiumCode)
            return std::string(language.code);
    return std::nullopt;
}

} // namespace aurelo::service
