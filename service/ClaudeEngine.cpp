// Messages API: https://docs.anthropic.com/en/api/messages
//   POST /v1/messages, "x-api-key: KEY", "anthropic-version: 2023-06-01",
//   {"model": …, "max_tokens": n, "system": …, "messages": [{"role": "user", "content": …}]}
//   -> {"content": [{"type": "text", "text": "…"}], "stop_reason": "end_turn"}

#include "service/ClaudeEngine.hpp"

#include "service/ChatModelPrompt.hpp"
#include "translation/JsonCoding.hpp"

namespace aurelo::service {

std::string ClaudeEngine::identity() const {
    return "claude:" + m_settings.model;
}
std::string ClaudeEngine::displayName() const {
    return "Claude";
}
BatchLimits ClaudeEngine::limits() const {
    return {kChatModelMaxTexts, kChatModelMaxCharacters};
}

void ClaudeEngine::translateChunk(std::vector<std::string> texts, const std::string& target,
                                  EngineCompletion completion) {
    auto prompt = buildChatModelPrompt(texts, target);
    HttpRequest request;
    request.method = "POST";
    request.url = baseURL(m_settings.endpoint, "https://api.anthropic.com") + "/v1/messages";
    request.headers = {{"x-api-key", m_settings.apiKey}, {"anthropic-version", "2023-06-01"}};
    request.body = json::serialize({{"model", m_settings.model},
                                    {"max_tokens", 8192},
                                    {"system", prompt.system},
                                    {"messages", {{{"role", "user"}, {"content", prompt.user}}}}});
    std::string name = displayName();
    std::size_t count = texts.size();
    sendUpstream(
        m_context, name, request,
        [name, count, completion = std::move(completion)](JsonOutcome answer) {
            if (!answer)
                return completion(std::unexpected(answer.error()));
            const auto& body = *answer;
            if (!body.is_object() || !body.contains("content") || !body["content"].is_array())
                return completion(std::unexpected(unrecognisedAnswer(name)));
            std::string reply;
            for (const auto& block : body["content"])
                if (block.is_object() && block.contains("type") && block["type"] == "text" &&
                    block.contains("text") && block["text"].is_string())
                    reply += block["text"].get<std::string>();
            completion(parseChatModelReply(reply, count, name));
        });
}

} // namespace aurelo::service
