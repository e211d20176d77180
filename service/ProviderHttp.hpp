#pragma once

// What the provider adapters share: sending one request upstream and turning every way it can
// go wrong (no connection, time-out, an error status, a body that is not the JSON promised)
// into an EngineFailure with a Chinese sentence.

#include "platform/HttpSession.hpp"
#include "service/EngineSettings.hpp"
#include "service/TranslationEngine.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>

namespace aurelo::service {

struct UpstreamContext {
    std::shared_ptr<HttpSession> session;
    std::chrono::milliseconds timeout{15000};
};

using JsonOutcome = std::expected<nlohmann::json, EngineFailure>;

// Sends `request` and hands over the parsed JSON body of a 2xx answer. `displayName` names the
// provider in messages ("DeepL"). Failures:
//   transport error   -> 504 on time-out, 502 otherwise: "无法连接 DeepL：…"
//   401/403           -> 502 "DeepL 拒绝了服务端配置的 API 密钥，请联系管理员。"
//   429 (and DeepL's 456) -> 503 "DeepL 请求过于频繁或额度已用尽，请稍后再试。"
//   other non-2xx     -> 502 "DeepL 请求失败（HTTP n）：<the provider's own message>"
//   2xx, not JSON     -> 502 "DeepL 返回了无法识别的数据。"
void sendUpstream(const UpstreamContext& context, const std::string& displayName,
                  HttpRequest request, std::function<void(JsonOutcome)> completion);

EngineFailure unrecognisedAnswer(const std::string& displayName);
EngineFailure countMismatch(const std::string& displayName);
EngineFailure notConfigured(const std::string& displayName, const std::string& what = "API 密钥");

} // namespace aurelo::service
