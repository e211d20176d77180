#pragma once

// A stand-in for the managed service on 127.0.0.1: the loopback server, answering what the test
// scripts per path and recording every request.

#include "support/LoopbackServer.hpp"

namespace aurelo::test {

class FakeManagedService : public LoopbackServer {
public:
    void setFallback(const std::string& path, ScriptedAnswer answer) {
        route(path, std::move(answer));
    }
};

// Answers a translation request by echoing its text(s) with a prefix: "text" -> "<prefix>text".
inline ScriptedAnswer echoTranslation(const RecordedRequest& request,
                                      const std::string& prefix = "译:") {
    if (!request.json || !request.json->is_object())
        return ScriptedAnswer::json(400, {{"error", "请求格式不正确"}});
    const auto& body = *request.json;
    if (!body.contains("texts"))
        return ScriptedAnswer::json(200, {{"text", prefix + body.value("text", std::string())},
                                          {"detectedLanguage", "en"}});
    nlohmann::json results = nlohmann::json::array();
    for (const auto& text : body["texts"])
        results.push_back({{"text", prefix + text.get<std::string>()}, {"detectedLanguage", "en"}});
    return ScriptedAnswer::json(200, {{"results", results}});
}

} // namespace aurelo::test
