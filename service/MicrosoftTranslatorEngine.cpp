// Translator v3: https://learn.microsoft.com/azure/ai-services/translator/reference/v3-0-translate
//   POST /translate?api-version=3.0&to=de, "Ocp-Apim-Subscription-Key" (and "-Region" for
//   regional resources), body [{"Text": "…"}, …]
//   -> [{"detectedLanguage": {"language": "en", "score": 1.0}, "translations": [{"text": "…",
//   "to": "de"}]}, …]

#include "service/MicrosoftTranslatorEngine.hpp"

#include "service/LanguageCodes.hpp"
#include "translation/JsonCoding.hpp"

namespace aurelo::service {

namespace {
constexpr const char* kDefaultEndpoint = "https://api.cognitive.microsofttranslator.com";
}

std::string MicrosoftTranslatorEngine::identity() const {
    return "microsoft";
}
std::string MicrosoftTranslatorEngine::displayName() const {
    return "Microsoft Translator";
}

// The array may hold at most 1,000 elements and 50,000 characters in all.
BatchLimits MicrosoftTranslatorEngine::limits() const {
    return {1000, 50000};
}

void MicrosoftTranslatorEngine::translateChunk(std::vector<std::string> texts,
                                               const std::string& target,
                                               EngineCompletion completion) {
    nlohmann::json body = nlohmann::json::array();
    for (const auto& text : texts)
        body.push_back({{"Text", text}});
    HttpRequest request;
    request.method = "POST";
    request.url = baseURL(m_settings.endpoint, kDefaultEndpoint) +
                  "/translate?api-version=3.0&to=" + microsoftLanguage(target);
    request.headers = {{"Ocp-Apim-Subscription-Key", m_settings.apiKey}};
    if (!m_settings.region.empty())
        request.headers.emplace_back("Ocp-Apim-Subscription-Region", m_settings.region);
    request.body = json::serialize(body);
    std::string name = displayName();
    sendUpstream(
        m_context, name, request, [name, completion = std::move(completion)](JsonOutcome answer) {
            if (!answer)
                return completion(std::unexpected(answer.error()));
            if (!answer->is_array())
                return completion(std::unexpected(unrecognisedAnswer(name)));
            std::vector<TranslationResult> results;
            for (const auto& item : *answer) {
                if (!item.is_object() || !item.contains("translations") ||
                    !item["translations"].is_array() || item["translations"].empty() ||
                    !item["translations"][0].is_object() ||
                    !item["translations"][0].contains("text") ||
                    !item["translations"][0]["text"].is_string())
                    return completion(std::unexpected(unrecognisedAnswer(name)));
                TranslationResult result{item["translations"][0]["text"].get<std::string>(),
                                         std::nullopt};
                if (item.contains("detectedLanguage") && item["detectedLanguage"].is_object() &&
                    item["detectedLanguage"].contains("language") &&
                    item["detectedLanguage"]["language"].is_string())
                    result.detectedLanguage =
                        clientLanguageCode(item["detectedLanguage"]["language"].get<std::string>());
                results.push_back(std::move(result));
            }
            completion(std::move(results));
        });
}

} // namespace aurelo::service
