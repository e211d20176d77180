#pragma once

#include "translation/TranslationProvider.hpp"

#include <optional>
#include <string>

namespace aurelo {

// What every translation call takes. `apiKey` carries the managed-service login token, not a
// provider key; `region` and `model` travel along for the settings but are not sent.
struct TranslationConfiguration {
    TranslationProvider provider = TranslationProvider::Google;
    std::string apiKey;
    std::string region;
    std::string model;

    friend bool operator==(const TranslationConfiguration&,
                           const TranslationConfiguration&) = default;
};

struct TranslationResult {
    std::string text;
    std::optional<std::string> detectedLanguage;

    friend bool operator==(const TranslationResult&, const TranslationResult&) = default;
};

} // namespace aurelo
