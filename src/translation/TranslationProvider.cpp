#include "translation/TranslationProvider.hpp"

namespace aurelo {

std::string_view rawValue(TranslationProvider provider) {
    switch (provider) {
    case TranslationProvider::Google:
        return "google";
    case TranslationProvider::DeepL:
        return "deepl";
    case TranslationProvider::Microsoft:
        return "microsoft";
    case TranslationProvider::OpenAI:
        return "openai";
    case TranslationProvider::Gemini:
        return "gemini";
    case TranslationProvider::Claude:
        return "claude";
    }
    return "google";
}

std::string_view displayName(TranslationProvider provider) {
    switch (provider) {
    case TranslationProvider::Google:
        return "Google Translate";
    case TranslationProvider::DeepL:
        return "DeepL";
    case TranslationProvider::Microsoft:
        return "Microsoft Translator";
    case TranslationProvider::OpenAI:
        return "OpenAI";
    case TranslationProvider::Gemini:
        return "Google Gemini";
    case TranslationProvider::Claude:
        return "Claude";
    }
    return "Google Translate";
}

std::optional<TranslationProvider> translationProviderFromRawValue(std::string_view raw) {
    for (auto provider : kAllTranslationProviders)
        if (rawValue(provider) == raw)
            return provider;
    return std::nullopt;
}

} // namespace aurelo
