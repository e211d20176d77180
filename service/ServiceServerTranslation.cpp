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

struct Refusal {
    unsigned status = 400;
    std::string message;
};

// `call` as refused with `status` and `message`.
template <typename Call> Call refused(Call& call, unsigned status, std::string message) {
    call.refusal = Refusal{status, std::move(message)};
    return std::move(call);
}

// A translation request as read from its body, before any account or engine is looked at.
struct TranslateCall {
    std::optional<std::string> provider; // for the log, once it is a string
    std::size_t textCount = 0;           // for the log, once the texts are read
    std::optional<Refusal> refusal;
    std::string target;
    std::vector<std::string> texts;
    std::int64_t characters = 0; // of all texts, as usage and quotas count them
    bool batch = false;
};

TranslateCall readTranslateCall(std::string_view text) {
    TranslateCall call;
    auto body = json::parseValue(text);
    if (!body || !body->is_object())
        return refused(call, 400, kBadJson);
    call.provider = stringMember(*body, "provider");
    if (!call.provider)
        return refused(call, 400, "请求缺少翻译引擎（provider）。");
    if (!translationProviderFromRawValue(*call.provider))
        return refused(call, 400, "不支持的翻译引擎：" + call.provider->substr(0, 32));
    auto target = stringMember(*body, "target");
    if (!target || *target == "auto" || !isPlausibleLanguageCode(*target))
        return refused(call, 400, "目标语言无效。");
    call.target = *target;

    call.batch = body->contains("texts");
    if (call.batch == body->contains("text"))
        return refused(call, 400, "请求须包含 text 或 texts 之一。");
    if (call.batch) {
        const auto& list = (*body)["texts"];
        if (!list.is_array() ||
            !std::ranges::all_of(list, [](const auto& v) { return v.is_string(); }))
            return refused(call, 400, "texts 必须是字符串数组。");
        if (list.size() > kMaxBatchTexts)
            return refused(call, 413, "单次批量翻译最多 " + std::to_string(kMaxBatchTexts) + " 条文本。");
        for (const auto& item : list)
            call.texts.push_back(text::trimmed(item.get<std::string>()));
    } else {
        auto single = stringMember(*body, "text");
        if (!single)
            return refused(call, 400, "text 必须是字符串。");
        call.texts.push_back(text::trimmed(*single));
        if (call.texts.front().empty())
            return refused(call, 400, "待翻译的文本为空。");
    }
    call.textCount = call.texts.size();
    for (const auto& item : call.texts) {
        auto count = characterCount(item);
        if (count > kMaxTextCharacters)
            return refused(call, 413, "单条文本过长（最多 " + std::to_string(kMaxTextCharacters) + " 字）。");
        call.characters += static_cast<std::int64_t>(count);
    }
    return call;
}

// A voice message as read from its body: the decoded audio and the languages.
struct TranscribeCall {
    std::optional<Refusal> refusal;
    std::string audio, mime, target, source;
};

TranscribeCall readTranscribeCall(std::string_view text, std::size_t maxAudioBytes) {
    TranscribeCall call;
    auto body = json::parseValue(text);
    if (!body || !body->is_object())
        return refused(call, 400, kBadJson);
    auto audioText = stringMember(*body, "audio");
    auto mimeText = stringMember(*body, "mime");
    if (!audioText || !mimeText)
        return refused(call, 400, "语音请求缺少音频数据或格式。");
    call.mime = *mimeText;
    call.target = stringMember(*body, "target").value_or("zh-CN");
    call.source = stringMember(*body, "source").value_or("auto");
    if (call.target == "auto" || !isPlausibleLanguageCode(call.target))
        return refused(call, 400, "目标语言无效。");
    if (call.source != "auto" && !isPlausibleLanguageCode(call.source))
        return refused(call, 400, "源语言无效。");
    if (!SpeechTranscriber::fileExtensionForMime(call.mime))
        return refused(call, 415, "不支持的音频格式：" + call.mime.substr(0, 64));
    body.reset();
    bool tooLarge = false;
    auto decoded = decodeBase64(*audioText, maxAudioBytes, tooLarge);
    if (tooLarge)
        return refused(call, 413, "语音文件过大（最多 " + limitText(maxAudioBytes) + "）。");
    if (!decoded)
        return refused(call, 400, "音频数据不是有效的 Base64 编码。");
    if (decoded->empty())
        return refused(call, 400, "语音数据为空。");
    call.audio = std::move(*decoded);
    return call;
}

} // namespace

void ServiceServer::handleTranslate(const ExchangePtr& exchange) {
    // Read before the account is known, so that one database round trip finds the account and
    // its engine together; refusals still come in the order of the checks.
    auto call = std::make_shared<TranslateCall>(readTranslateCall(exchange->text()));
    using Choice = std::optional<std::expected<EngineChoice, EngineFailure>>;
    authenticated<Choice>(
        exchange,
        [this, call, now = now()](const Account& account) -> DatabaseResult<Choice> {
            if (call->refusal)
                return Choice();
            auto choice = TranslationDispatcher::chooseEngine(m_database, account.id, *call->provider);
            if (!choice)
                return std::unexpected(choice.error());
            if (*choice) {
                auto over = m_quotas.check(account.id, call->characters, now);
                if (!over)
                    return std::unexpected(over.error());
                if (*over)
                    return Choice(std::unexpected(EngineFailure{429, quotaExceededMessage(**over)}));
            }
            return Choice(std::move(*choice));
        },
        [this, exchange, call](const Account& account, Choice choice) {
            exchange->log.provider = call->provider.value_or("");
            exchange->log.texts = call->textCount;
            if (call->refusal)
                return respondError(exchange, call->refusal->status, call->refusal->message);
            if (!*choice)
                return respondError(exchange, choice->error().status, choice->error().message);
            auto engine = m_dispatcher->engineFor(**choice);
            if (!engine)
                return respondError(exchange, engine.error().status, engine.error().message);
            translate(exchange, account, *engine, std::move(call->texts), call->target,
                      call->batch);
        });
}

void ServiceServer::translate(const ExchangePtr& exchange, const Account& account,
                              const std::shared_ptr<TranslationEngine>& engine,
                              std::vector<std::string> texts, const std::string& target,
                              bool batch) {
    const CancellationToken cancellation = m_cancellable.token();
    const std::size_t count = texts.size();
    std::int64_t characters = 0;
    for (const auto& text : texts)
        characters += static_cast<std::int64_t>(characterCount(text));
    m_dispatcher->translate(
        account, engine, std::move(texts), target,
        [this, cancellation, exchange, batch, accountId = account.id, characters,
         count](DispatchOutcome outcome) {
            if (cancellation.isCancelled())
                return;
            noteTranslation(exchange->log.provider, count, outcome);
            if (!outcome)
                return respondError(exchange, outcome.error().status, outcome.error().message);
            countUsage(accountId, exchange->log.provider, characters);
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

void ServiceServer::noteTranslation(const std::string& engine, std::size_t texts,
                                    const DispatchOutcome& outcome) {
    std::size_t hits = outcome ? outcome->cacheHits : 0;
    m_metrics.cacheLookups(texts, hits);
    if (!outcome || hits < texts)
        m_metrics.providerCall(engine, !outcome);
}

void ServiceServer::handleTranscribe(const ExchangePtr& exchange) {
    // The body, its parsed form and the base64 text are all gone before the provider is called:
    // a voice message must not be held three times while the recogniser works.
    auto call = std::make_shared<TranscribeCall>(
        readTranscribeCall(exchange->text(), m_configuration.maxAudioBytes));
    exchange->body.reset();
    struct Lookup {
        std::optional<std::expected<EngineChoice, EngineFailure>> choice;
        ProviderSettings transcription;
    };
    authenticated<Lookup>(
        exchange,
        [this, call, now = now()](const Account& account) -> DatabaseResult<Lookup> {
            Lookup lookup;
            if (call->refusal)
                return lookup;
            auto choice = TranslationDispatcher::chooseFirstEngine(m_database, account.id);
            if (!choice)
                return std::unexpected(choice.error());
            lookup.choice = std::move(*choice);
            if (!*lookup.choice)
                return lookup;
            // The transcript's length is not known yet: a voice message needs one character left.
            auto over = m_quotas.check(account.id, 1, now);
            if (!over)
                return std::unexpected(over.error());
            if (*over) {
                lookup.choice = std::unexpected(EngineFailure{429, quotaExceededMessage(**over)});
                return lookup;
            }
            auto settings = m_database.providerSettings("transcription");
            if (!settings)
                return std::unexpected(settings.error());
            lookup.transcription = std::move(*settings);
            return lookup;
        },
        [this, exchange, call](const Account& account, Lookup lookup) {
            if (call->refusal)
                return respondError(exchange, call->refusal->status, call->refusal->message);
            if (!*lookup.choice)
                return respondError(exchange, lookup.choice->error().status,
                                    lookup.choice->error().message);
            auto engine = m_dispatcher->engineFor(**lookup.choice);
            if (!engine)
                return respondError(exchange, engine.error().status, engine.error().message);
            const ProviderSettings& settings = lookup.transcription;
            if (settings.apiKey.empty() && settings.endpoint.empty())
                return respondError(exchange, 503, "服务端尚未配置语音识别服务，请联系管理员。");
            if (settings.model.empty())
                return respondError(exchange, 503, "服务端尚未配置语音识别模型，请联系管理员。");
            exchange->log.provider = "transcription";
            exchange->engine = lookup.choice->value().engine.provider;
            transcribe(exchange, account, *engine, settings, std::move(call->audio), call->mime,
                       call->source, call->target);
        });
}

void ServiceServer::transcribe(const ExchangePtr& exchange, const Account& account,
                               const std::shared_ptr<TranslationEngine>& engine,
                               const ProviderSettings& settings, std::string audio,
                               const std::string& mime, const std::string& source,
                               const std::string& target) {
    auto transcriber = std::make_shared<SpeechTranscriber>(
        UpstreamContext{m_upstream, m_configuration.transcriptionTimeout},
        EngineSettings{settings.apiKey, settings.endpoint, settings.region, settings.model});
    const CancellationToken cancellation = m_cancellable.token();
    transcriber->transcribe(
        std::move(audio), mime, source,
        [this, cancellation, exchange, transcriber, account, engine,
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
                [this, cancellation, exchange, text, account](DispatchOutcome outcome) {
                    if (cancellation.isCancelled())
                        return;
                    noteTranslation(exchange->engine, 1, outcome);
                    if (!outcome)
                        return respondError(exchange, outcome.error().status,
                                            outcome.error().message);
                    exchange->log.cacheHits = outcome->cacheHits;
                    countUsage(account.id, exchange->engine,
                               static_cast<std::int64_t>(characterCount(text)));
                    respond(exchange, 200,
                            {{"transcript", text}, {"translation", outcome->results.front().text}});
                });
        });
}

} // namespace aurelo::service
