#include "service/ProviderHttp.hpp"

#include "translation/JsonCoding.hpp"

#include <glib.h>

namespace aurelo::service {

namespace {

// The provider's own explanation in an error body, in the shapes the supported APIs use:
// {"error": {"message": …}}, {"error": "…"}, {"message": "…"}, {"detail": "…"}.
std::string upstreamMessage(const std::string& body) {
    auto value = json::parseValue(body);
    if (!value || !value->is_object())
        return {};
    const auto& object = *value;
    if (auto it = object.find("error"); it != object.end()) {
        if (it->is_string())
            return it->get<std::string>();
        if (it->is_object() && it->contains("message") && (*it)["message"].is_string())
            return (*it)["message"].get<std::string>();
    }
    for (const char* key : {"message", "detail"})
        if (auto it = object.find(key); it != object.end() && it->is_string())
            return it->get<std::string>();
    return {};
}

// Long or binary provider messages would make a poor line in the client's status bar.
std::string shorten(std::string text) {
    constexpr std::size_t kLimit = 200;
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return {};
    if (g_utf8_strlen(text.data(), static_cast<gssize>(text.size())) <= static_cast<glong>(kLimit))
        return text;
    const char* end = g_utf8_offset_to_pointer(text.data(), kLimit);
    return std::string(static_cast<const char*>(text.data()), end) + "…";
}

} // namespace

EngineFailure unrecognisedAnswer(const std::string& displayName) {
    return {502, displayName + " 返回了无法识别的数据。"};
}

EngineFailure countMismatch(const std::string& displayName) {
    return {502, displayName + " 返回的译文数量与原文不一致。"};
}

EngineFailure notConfigured(const std::string& displayName, const std::string& what) {
    // A space between Chinese text and a Latin word, as in "的 API 密钥".
    std::string separator = !what.empty() && static_cast<unsigned char>(what[0]) < 0x80 ? " " : "";
    return {503, "服务端尚未配置 " + displayName + " 的" + separator + what + "，请联系管理员。"};
}

void sendUpstream(const UpstreamContext& context, const std::string& displayName,
                  HttpRequest request, std::function<void(JsonOutcome)> completion) {
    request.timeout = context.timeout;
    context.session->send(request, [displayName,
                                    completion = std::move(completion)](HttpResult result) {
        if (!result) {
            if (result.error().kind == TransportError::Kind::TimedOut)
                return completion(
                    std::unexpected(EngineFailure{504, displayName + " 响应超时，请稍后再试。"}));
            return completion(std::unexpected(
                EngineFailure{502, "无法连接 " + displayName + "：" + result.error().description}));
        }
        unsigned status = result->status;
        if (status == 401 || status == 403)
            return completion(std::unexpected(
                EngineFailure{502, displayName + " 拒绝了服务端配置的 API 密钥，请联系管理员。"}));
        if (status == 429 || status == 456)
            return completion(std::unexpected(
                EngineFailure{503, displayName + " 请求过于频繁或额度已用尽，请稍后再试。"}));
        if (status < 200 || status > 299) {
            std::string detail = shorten(upstreamMessage(result->body));
            std::string message = displayName + " 请求失败（HTTP " + std::to_string(status) + "）";
            if (!detail.empty())
                message += "：" + detail;
            return completion(std::unexpected(EngineFailure{502, message}));
        }
        auto body = json::parseValue(result->body);
        if (!body)
            return completion(std::unexpected(unrecognisedAnswer(displayName)));
        completion(std::move(*body));
    });
}

} // namespace aurelo::service
