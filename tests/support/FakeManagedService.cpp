#include "support/FakeManagedService.hpp"

namespace aurelo::test {

ScriptedAnswer echoTranslation(const RecordedRequest& request, const std::string& prefix) {
    if (!request.json || !request.json->is_object())
        return ScriptedAnswer::json(400, {{"error", "请求格式不正确"}});
    const auto& body = *request.json;
    if (body.contains("texts")) {
        nlohmann::json results = nlohmann::json::array();
        for (const auto& text : body["texts"])
            results.push_back(
                {{"text", prefix + text.get<std::string>()}, {"detectedLanguage", "en"}});
        return ScriptedAnswer::json(200, {{"results", results}});
    }
    return ScriptedAnswer::json(
        200, {{"text", prefix + body.value("text", std::string())}, {"detectedLanguage", "en"}});
}

} // namespace aurelo::test
