// DeepL API: https://developers.deepl.com/docs/api-reference/translate
//   POST /v2/translate, "Authorization: DeepL-Auth-Key KEY"
//   {"text": [...], "target_lang": "DE"} -> {"translations": [{"detected_source_language": "EN",
//   "text": "…"}]}
// Keys of the free plan end in ":fx" and belong to api-free.deepl.com.

#include "service/DeepLEngine.hpp"

#include "service/LanguageCodes.hpp"
#include "translation/JsonCoding.hpp"

namespace aurelo::service {

std::string DeepLEngine::identity() const {
    return "deepl";
}
std::string DeepLEngine::displayName() const {
    return "DeepL";
}

// At most 50 texts per request, and a request body of at most 128 KiB.
BatchLimits DeepLEngine::limits() const {
    return {50, 30000};
}

void DeepLEngine::translateChunk(std::vector<std::string> texts, const std::string& target,
                                 EngineCompletion completion) {
    std::string fallback =
        m_settings.apiKey.ends_with(":fx") ? "https://api-free.deepl.com" : "https://api.deepl.com";
    HttpRequest request;
    request.method = "POST";
    request.url = baseURL(m_settings.endpoint, fallback) + "/v2/translate";
    request.headers = {{"Authorization", "DeepL-Auth-Key " + m_settings.apiKey}};
    request.body = json::serialize({{"text", texts}, {"target_lang", deeplTargetLanguage(target)}});
    std::string name = displayName();
    sendUpstream(
        m_context, name, request, [name, completion = std::move(completion)](JsonOutcome answer) {
            if (!answer)
                return completion(std::unexpected(answer.error()));
            if (!answer->is_object() || !answer->contains("translations") ||
                !(*answer)["translations"].is_array())
                return completion(std::unexpected(unrecognisedAnswer(name)));
            std::vector<TranslationResult> results;
            for (const auto& item : (*answer)["translations"]) {
                if (!item.is_object() || !item.contains("text") || !item["text"].is_string())
                    return completion(std::unexpected(unrecognisedAnswer(name)));
                TranslationResult result{item["text"].get<std::string>(), std::nullopt};
                if (item.contains("detected_source_language") &&
                    item["detected_source_language"].is_string())
                    result.detectedLanguage =
                        clientLanguageCode(item["detected_source_language"].get<std::string>());
                results.push_back(std::move(result));
            }
            completion(std::move(results));
        });
}

} // namespace aurelo::service
