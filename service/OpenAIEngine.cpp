// Chat Completions: https://platform.openai.com/docs/api-reference/chat/create
//   POST /chat/completions, "Authorization: Bearer KEY",
//   {"model": …, "messages": [{"role": "system", …}, {"role": "user", …}],
//    "response_format": {"type": "json_object"}}
//   -> {"choices": [{"message": {"content": "…"}, "finish_reason": "stop"}]}

#include "service/OpenAIEngine.hpp"

#include "service/ChatModelPrompt.hpp"
#include "translation/JsonCoding.hpp"

namespace aurelo::service {

std::string OpenAIEngine::identity() const {
    return "openai:" + m_settings.model;
}
std::string OpenAIEngine::displayName() const {
    return "OpenAI";
}
BatchLimits OpenAIEngine::limits() const {
    return {kChatModelMaxTexts, kChatModelMaxCharacters};
}

void OpenAIEngine::translateChunk(std::vector<std::string> texts, const std::string& target,
                                  EngineCompletion completion) {
    auto prompt = buildChatModelPrompt(texts, target);
    HttpRequest request;
    request.method = "POST";
    request.url = baseURL(m_settings.endpoint, "https://api.openai.com/v1") + "/chat/completions";
    request.headers = {{"Authorization", "Bearer " + m_settings.apiKey}};
    request.body = json::serialize({{"model", m_settings.model},
                                    {"messages",
                                     {{{"role", "system"}, {"content", prompt.system}},
                                      {{"role", "user"}, {"content", prompt.user}}}},
                                    {"response_format", {{"type", "json_object"}}}});
    std::string name = displayName();
    std::size_t count = texts.size();
    sendUpstream(
        m_context, name, request,
        [name, count, completion = std::move(completion)](JsonOutcome answer) {
            if (!answer)
                return completion(std::unexpected(answer.error()));
            const auto& body = *answer;
            if (!body.is_object() || !body.contains("choices") || !body["choices"].is_array() ||
                body["choices"].empty() || !body["choices"][0].is_object())
                return completion(std::unexpected(unrecognisedAnswer(name)));
            const auto& choice = body["choices"][0];
            if (!choice.contains("message") || !choice["message"].is_object() ||
                !choice["message"].contains("content") || !choice["message"]["content"].is_string())
                return completion(std::unexpected(unrecognisedAnswer(name)));
            completion(
                parseChatModelReply(choice["message"]["content"].get<std::string>(), count, name));
        });
}

} // namespace aurelo::service
