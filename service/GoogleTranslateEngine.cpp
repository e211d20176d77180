// Cloud Translation, basic edition (v2):
// https://cloud.google.com/translate/docs/reference/rest/v2/translate
//   POST …/language/translate/v2?key=KEY  {"q": [...], "target": "de", "format": "text"}
//   -> {"data": {"translations": [{"translatedText": "…", "detectedSourceLanguage": "en"}]}}

#include "service/GoogleTranslateEngine.hpp"

#include "service/LanguageCodes.hpp"
#include "translation/JsonCoding.hpp"

#include <glib.h>

namespace aurelo::service {

namespace {
constexpr const char* kDefaultEndpoint = "https://translation.googleapis.com/language/translate/v2";
}

std::string GoogleTranslateEngine::identity() const {
    return "google";
}
std::string GoogleTranslateEngine::displayName() const {
    return "Google Translate";
}

// 128 text segments per request; the size bound keeps the body well under the documented
// request size limit.
BatchLimits GoogleTranslateEngine::limits() const {
    return {128, 30000};
}

void GoogleTranslateEngine::translateChunk(std::vector<std::string> texts,
                                           const std::string& target, EngineCompletion completion) {
    nlohmann::json body = {{"q", texts}, {"target", target}, {"format", "text"}};
    std::unique_ptr<char, decltype(&g_free)> key(
        g_uri_escape_string(m_settings.apiKey.c_str(), nullptr, FALSE), g_free);
    HttpRequest request;
    request.method = "POST";
    request.url = baseURL(m_settings.endpoint, kDefaultEndpoint) + "?key=" + key.get();
    request.body = json::serialize(body);
    std::string name = displayName();
    sendUpstream(
        m_context, name, request, [name, completion = std::move(completion)](JsonOutcome answer) {
            if (!answer)
                return completion(std::unexpected(answer.error()));
            const auto* translations =
                answer->is_object() && answer->contains("data") && (*answer)["data"].is_object()
                    ? &(*answer)["data"]
                    : nullptr;
            if (!translations || !translations->contains("translations") ||
                !(*translations)["translations"].is_array())
                return completion(std::unexpected(unrecognisedAnswer(name)));
            std::vector<TranslationResult> results;
            for (const auto& item : (*translations)["translations"]) {
                if (!item.is_object() || !item.contains("translatedText") ||
                    !item["translatedText"].is_string())
                    return completion(std::unexpected(unrecognisedAnswer(name)));
                TranslationResult result{item["translatedText"].get<std::string>(), std::nullopt};
                if (item.contains("detectedSourceLanguage") &&
                    item["detectedSourceLanguage"].is_string())
                    result.detectedLanguage =
                        clientLanguageCode(item["detectedSourceLanguage"].get<std::string>());
                results.push_back(std::move(result));
            }
            completion(std::move(results));
        });
}

} // namespace aurelo::service
