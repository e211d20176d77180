// Gemini API: https://ai.google.dev/api/generate-content
//   POST /v1beta/models/{model}:generateContent, "x-goog-api-key: KEY",
//   {"systemInstruction": {"parts": [{"text": …}]}, "contents": [{"role": "user", "parts":
//    [{"text": …}]}], "generationConfig": {"responseMimeType": "application/json"}}
//   -> {"candidates": [{"content": {"parts": [{"text": "…"}]}}]}

#include "service/GeminiEngine.hpp"

#include "service/ChatModelPrompt.hpp"
#include "translation/JsonCoding.hpp"

namespace aurelo::service {

std::string GeminiEngine::identity() const {
    return "gemini:" + m_settings.model;
}
std::string GeminiEngine::displayName() const {
    return "Google Gemini";
}
BatchLimits GeminiEngine::limits() const {
    return {kChatModelMaxTexts, kChatModelMaxCharacters};
}

void GeminiEngine::translateChunk(std::vector<std::string> texts, const std::string& target,
                                  EngineCompletion completion) {
    auto prompt = buildChatModelPrompt(texts, target);
    HttpRequest request;
    request.method = "POST";
    request.url = baseURL(m_settings.endpoint, "https://generativelanguage.googleapis.com/v1beta") +
                  "/models/" + m_settings.model + ":generateContent";
    request.headers = {{"x-goog-api-key", m_settings.apiKey}};
    request.body =
        json::serialize({{"systemInstruction", {{"parts", {{{"text", prompt.system}}}}}},
                         {"contents", {{{"role", "user"}, {"parts", {{{"text", prompt.user}}}}}}},
                         {"generationConfig", {{"responseMimeType", "application/json"}}}});
    std::string name = displayName();
    std::size_t count = texts.size();
    sendUpstream(m_context, name, request,
                 [name, count, completion = std::move(completion)](JsonOutcome answer) {
                     if (!answer)
                         return completion(std::unexpected(answer.error()));
                     const auto& body = *answer;
                     if (!body.is_object() || !body.contains("candidates") ||
                         !body["candidates"].is_array() || body["candidates"].empty() ||
                         !body["candidates"][0].is_object())
                         return completion(std::unexpected(unrecognisedAnswer(name)));
                     const auto& candidate = body["candidates"][0];
                     if (!candidate.contains("content") || !candidate["content"].is_object() ||
                         !candidate["content"].contains("parts") ||
                         !candidate["content"]["parts"].is_array())
                         return completion(std::unexpected(unrecognisedAnswer(name)));
                     std::string reply;
                     for (const auto& part : candidate["content"]["parts"])
                         if (part.is_object() && part.contains("text") && part["text"].is_string())
                             reply += part["text"].get<std::string>();
                     completion(parseChatModelReply(reply, count, name));
                 });
}

} // namespace aurelo::service
