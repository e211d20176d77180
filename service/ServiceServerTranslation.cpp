// ServiceServer's translation routes: text (single or batch) and voice messages.
#include "service/ServiceServer.hpp"

#include "service/BatchPlanner.hpp"
#include "service/LanguageCodes.hpp"
#include "service/ServiceExchange.hpp"
#include "service/SpeechTranscriber.hpp"
#include "translation/JsonCoding.hpp"
#include "translation/TranslationProvider.hpp"

#include <libsoup/soup.h>

#include <array>

namespace aurelo::service {

namespace {

// Strict base64 (standard alphabet, optional padding, white space tolerated); nullopt for
// anything else, or when the decoded size would pass `limit`.
std::optional<std::string> decodeBase64(const std::string& text, std::size_t limit,
                                        bool& tooLarge) {
    static constexpr auto kDecode = [] {
        std::array<int, 256> table{};
        table.fill(-1);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            table[static_cast<unsigned char>(alphabet[i])] = i;
        return table;
    }();
    tooLarge = false;
    std::string out;
    out.reserve(std::min(limit, text.size() / 4 * 3));
    unsigned buffer = 0, bits = 0;
    std::size_t padding = 0;
    for (unsigned char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        if (padding > 0 || kDecode[c] < 0)
            return std::nullopt;
        buffer = (buffer << 6) | static_cast<unsigned>(kDecode[c]);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xff));
            if (out.size() > limit) {
                tooLarge = true;
                return std::nullopt;
            }
        }
    }
    if (padding > 2 || bits >= 6)
        return std::nullopt;
    return out;
}

} // namespace

void ServiceServer::handleTranslate(const ExchangePtr& exchange) {
    auto account = authenticate(exchange);
    if (!account)
        return;
    auto body = json::parseValue(exchange->text());
    if (!body || !body->is_object())
        return respondError(exchange, 400, kBadJson);
    auto provider = stringMember(*body, "provider");
    if (!provider)
        return respondError(exchange, 400, "请求缺少翻译引擎（provider）。");
    exchange->log.provider = *provider;
    if (!translationProviderFromRawValue(*provider))
        return respondError(exchange, 400, "不支持的翻译引擎：" + provider->substr(0, 32));
    auto target = stringMember(*body, "target");
    if (!target || *target == "auto" || !isPlausibleLanguageCode(*target))
        return respondError(exchange, 400, "目标语言无效。");

    bool batch = body->contains("texts");
    if (batch == body->contains("text"))
        return respondError(exchange, 400, "请求须包含 text 或 texts 之一。");
    std::vector<std::string> texts;
    if (batch) {
        const auto& list = (*body)["texts"];
        if (!list.is_array() ||
            !std::ranges::all_of(list, [](const auto& v) { return v.is_string(); }))
            return respondError(exchange, 400, "texts 必须是字符串数组。");
        if (list.size() > kMaxBatchTexts)
            return respondError(exchange, 413,
                                "单次批量翻译最多 " + std::to_string(kMaxBatchTexts) + " 条文本。");
        for (const auto& text : list)
            texts.push_back(text::trimmed(text.get<std::string>()));
    } else {
        auto text = stringMember(*body, "text");
        if (!text)
            return respondError(exchange, 400, "text 必须是字符串。");
        texts.push_back(text::trimmed(*text));
        if (texts.front().empty())
            return respondError(exchange, 400, "待翻译的文本为空。");
    }
    exchange->log.texts = texts.size();
    for (const auto& text : texts)
        if (characterCount(text) > kMaxTextCharacters)
            return respondError(exchange, 413,
                                "单条文本过长（最多 " + std::to_string(kMaxTextCharacters) +
                                    " 字）。");

    auto engine = m_dispatcher->engineFor(*account, *provider);
    if (!engine)
        return respondError(exchange, engine.error().status, engine.error().message);
    pause(exchange);
    const CancellationToken cancellation = m_cancellable.token();
    m_dispatcher->translate(
        *account, *engine, std::move(texts), *target,
        [this, cancellation, exchange, batch](DispatchOutcome outcome) {
            if (cancellation.isCancelled())
                return;
            if (!outcome)
                return respondError(exchange, outcome.error().status, outcome.error().message);
            exchange->log.cacheHits = outcome->cacheHits;
            auto encode = [](const TranslationResult& result) {
                nlohmann::json item = {{"text", result.text}};
                if (result.detectedLanguage)
                    item["detectedLanguage"] = *result.detectedLanguage;
                return item;
            };
            if (!batch) {
                const auto& result = outcome->results.front();
                if (result.text.empty())
                    return respondError(exchange, 502, "翻译引擎返回了空译文，请稍后重试。");
                return respond(exchange, 200, encode(result));
            }
            nlohmann::json results = nlohmann::json::array();
            for (const auto& result : outcome->results)
                results.push_back(encode(result));
            respond(exchange, 200, {{"results", results}});
        });
}

void ServiceServer::handleTranscribe(const ExchangePtr& exchange) {
    auto account = authenticate(exchange);
    if (!account)
        return;
    std::string audio, mime, target, source;
    {
        // The body, its parsed form and the base64 text are all gone before the provider is
        // called: a voice message must not be held three times while the recogniser works.
        auto body = json::parseValue(exchange->text());
        exchange->body.reset();
        if (!body || !body->is_object())
            return respondError(exchange, 400, kBadJson);
        auto audioText = stringMember(*body, "audio");
        auto mimeText = stringMember(*body, "mime");
        if (!audioText || !mimeText)
            return respondError(exchange, 400, "语音请求缺少音频数据或格式。");
        mime = *mimeText;
        target = stringMember(*body, "target").value_or("zh-CN");
        source = stringMember(*body, "source").value_or("auto");
        if (target == "auto" || !isPlausibleLanguageCode(target))
            return respondError(exchange, 400, "目标语言无效。");
        if (source != "auto" && !isPlausibleLanguageCode(source))
            return respondError(exchange, 400, "源语言无效。");
        if (!SpeechTranscriber::fileExtensionForMime(mime))
            return respondError(exchange, 415, "不支持的音频格式：" + mime.substr(0, 64));
        body.reset();
        bool tooLarge = false;
        auto decoded = decodeBase64(*audioText, m_configuration.maxAudioBytes, tooLarge);
        if (tooLarge)
            return respondError(exchange, 413,
                                "语音文件过大（最多 " + limitText(m_configuration.maxAudioBytes) +
                                    "）。");
        if (!decoded)
            return respondError(exchange, 400, "音频数据不是有效的 Base64 编码。");
        if (decoded->empty())
            return respondError(exchange, 400, "语音数据为空。");
        audio = std::move(*decoded);
    }

    auto engine = m_dispatcher->firstEngineFor(*account);
    if (!engine)
        return respondError(exchange, engine.error().status, engine.error().message);
    auto settings = m_database.providerSettings("transcription");
    if (!settings)
        return respondDatabaseError(exchange, settings.error());
    if (settings->apiKey.empty() && settings->endpoint.empty())
        return respondError(exchange, 503, "服务端尚未配置语音识别服务，请联系管理员。");
    if (settings->model.empty())
        return respondError(exchange, 503, "服务端尚未配置语音识别模型，请联系管理员。");
    exchange->log.provider = "transcription";
    auto transcriber = std::make_shared<SpeechTranscriber>(
        UpstreamContext{m_upstream, m_configuration.transcriptionTimeout},
        EngineSettings{settings->apiKey, settings->endpoint, settings->region, settings->model});
    pause(exchange);
    const CancellationToken cancellation = m_cancellable.token();
    transcriber->transcribe(
        std::move(audio), mime, source,
        [this, cancellation, exchange, transcriber, account = *account, engine = *engine,
         target](TranscriptOutcome transcript) {
            if (cancellation.isCancelled())
                return;
            if (!transcript)
                return respondError(exchange, transcript.error().status,
                                    transcript.error().message);
            std::string text = text::trimmed(*transcript);
            if (text.empty())
                return respondError(exchange, 422, "未能识别出语音内容。");
            exchange->log.texts = 1;
            m_dispatcher->translate(
                account, engine, {text}, target,
                [this, cancellation, exchange, text](DispatchOutcome outcome) {
                    if (cancellation.isCancelled())
                        return;
                    if (!outcome)
                        return respondError(exchange, outcome.error().status,
                                            outcome.error().message);
                    exchange->log.cacheHits = outcome->cacheHits;
                    respond(exchange, 200,
                            {{"transcript", text}, {"translation", outcome->results.front().text}});
                });
        });
}

} // namespace aurelo::service
