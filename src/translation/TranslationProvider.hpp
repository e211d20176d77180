#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

// The engines the managed service can translate with. The raw value is what is stored in the
// settings, sent as the request's "provider" and used in the cache key; the order is the order
// of every picker.
enum class TranslationProvider { Google, DeepL, Microsoft, OpenAI, Gemini, Claude };

inline constexpr std::array kAllTranslationProviders{
    TranslationProvider::Google, TranslationProvider::DeepL,  TranslationProvider::Microsoft,
    TranslationProvider::OpenAI, TranslationProvider::Gemini, TranslationProvider::Claude,
};

std::string_view rawValue(TranslationProvider provider);
std::string_view displayName(TranslationProvider provider);
std::optional<TranslationProvider> translationProviderFromRawValue(std::string_view raw);

} // namespace aurelo
