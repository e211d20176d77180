#include "web/TranslationBridge.hpp"

#include "platform/MainLoop.hpp"
#include "platform/Text.hpp"
#include "translation/AureloServiceURL.hpp"
#include "translation/JsonCoding.hpp"
#include "web/PageScript.hpp"
#include "web/WebLogger.hpp"

namespace aurelo {

namespace {

constexpr const char* kVoiceFailure = "语音翻译失败";

// The kinds the page script posts; any other kind string is refused with an answer.
bool isKnownKind(const std::string& kind) {
    return kind == "message" || kind == "page" || kind == "composer" || kind == "composerWarm" ||
           kind == "context";
}

std::size_t characterCount(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0) != 0x80;
    return count;
}

} // namespace

TranslationBridge::TranslationBridge(const TranslationService& service, HttpSession& voiceSession,
                                     std::string serviceOrigin, PageEvaluator evaluate)
    : m_service(service), m_voiceSession(voiceSession), m_serviceOrigin(std::move(serviceOrigin)),
      m_evaluate(std::move(evaluate)),
      m_backgroundQueue(
          [&service](const std::vector<std::string>& texts, const std::string& target,
                     const TranslationConfiguration& configuration, auto completion) {
              service.translateBatch(texts, target, configuration, std::move(completion));
          },
          [this](const std::string& id, const std::string& text, bool failed) {
              deliverTranslation(id, text, failed);
          },
          [this](const std::string& id, const std::string& text, bool failed) {
              deliverPageTranslation(id, text, failed);
          }) {
    m_backgroundQueue.setOnDetected(
        [this](const BackgroundTranslation& job, const std::string& code) {
            if (m_onIncomingLanguage && job.conversation && job.kind == "message")
                m_onIncomingLanguage(*job.conversation, job.text, code);
        });
}

TranslationBridge::~TranslationBridge() {
    m_cancellable.cancel();
}

template <typename Value>
void TranslationBridge::report(const std::function<void(Value)>& callback, Value value) {
    // The member, not a copy: a callback set after the message arrived is the one called.
    postToMainLoop([&callback, cancellation = m_cancellable.token(), value] {
        if (cancellation.isCancelled() || !callback)
            return;
        callback(value);
    });
}

void TranslationBridge::receive(const BridgeMessage& message) {
    if (std::holds_alternative<IgnoredMessage>(message))
        return;
    if (std::holds_alternative<MalformedMessage>(message)) {
        webLogger::malformedBridgeMessage();
        return;
    }
    if (const auto* unread = std::get_if<UnreadReport>(&message))
        return report(m_onUnreadCountChanged, unread->count);
    if (const auto* login = std::get_if<LoginReport>(&message))
        return report(m_onLoginReported, login->loggedOut);
    if (const auto* recognition = std::get_if<MessageRecognitionReport>(&message))
        return report(m_onMessagesRecognised, recognition->recognised);
    if (const auto* conversation = std::get_if<ConversationReport>(&message))
        return report(m_onConversationReported, conversation->id);
    if (const auto* voice = std::get_if<VoiceRequest>(&message)) {
        // An id we would have to echo at any length is not one the page script made.
        if (voice->id.size() > kMaximumIdBytes || voice->mime.size() > kMaximumMimeBytes ||
            voice->source.size() > kMaximumTargetBytes ||
            voice->target.size() > kMaximumTargetBytes) {
            webLogger::malformedBridgeMessage();
            return;
        }
        if (voice->data.size() > kMaximumVoiceDataBytes)
            return deliverVoiceTranslation(voice->id, "", kVoiceTooLarge, true);
        if (m_voiceInFlight >= kMaximumVoiceInFlight)
            return deliverVoiceTranslation(voice->id, "", kTooManyVoiceRequests, true);
        transcribe(*voice);
        return;
    }
    receiveTranslation(std::get<TranslationRequest>(message));
}

void TranslationBridge::receiveTranslation(const TranslationRequest& request) {
    if (request.id.size() > kMaximumIdBytes || request.target.size() > kMaximumTargetBytes) {
        webLogger::malformedBridgeMessage();
        return;
    }
    // Refusals are answered through the function the page waits on; an unknown kind has none
    // of its own, so it hears back as a message would.
    if (!isKnownKind(request.kind))
        return deliverTranslation(request.id, kUnknownKind, true);
    if (characterCount(request.text) > kMaximumTextCharacters)
        return answerDirect(request, kTextTooLong, true);
    if (request.isQueued()) {
        m_backgroundQueue.enqueue(BackgroundTranslation{request.id, request.text, request.target,
                                                        request.kind, m_translationConfiguration,
                                                        request.conversation});
        return;
    }
    if (m_directInFlight >= kMaximumDirectInFlight)
        return answerDirect(request, kTooManyRequests, true);
    translateDirectly(request);
}

std::string TranslationBridge::directFailureMessage(const TranslationConfiguration& configuration,
                                                    const ServiceFailure& failure) {
    if (text::trimmed(configuration.apiKey).empty())
        return "请先在“设置”中配置 " + std::string(displayName(configuration.provider));
    return "翻译失败：" + describe(failure);
}

void TranslationBridge::translateDirectly(const TranslationRequest& request) {
    const CancellationToken cancellation = m_cancellable.token();
    const TranslationConfiguration configuration = m_translationConfiguration;
    ++m_directInFlight;
    m_service.translate(
        request.text, request.target, configuration,
        [this, cancellation, request, configuration](auto outcome) {
            if (cancellation.isCancelled())
                return;
            --m_directInFlight;
            if (outcome)
                answerDirect(request, outcome->text, false);
            else
                answerDirect(request, directFailureMessage(configuration, outcome.error()), true);
        });
}

void TranslationBridge::answerDirect(const TranslationRequest& request, const std::string& text,
                                     bool failed) {
    if (request.kind == "context")
        deliverContextTranslation(request.id, text, failed);
    else if (request.kind == "composerWarm")
        deliverComposerWarm(request.id, request.text, text, failed);
    else if (request.kind == "composer")
        deliverComposerTranslation(request.id, text, failed);
    else if (request.kind == "page")
        deliverPageTranslation(request.id, text, failed);
    else
        deliverTranslation(request.id, text, failed);
}

void TranslationBridge::transcribe(const VoiceRequest& voice) {
    const nlohmann::json body = {{"audio", voice.data},
                                 {"mime", voice.mime},
                                 {"target", voice.target},
                                 {"source", voice.source}};
    HttpRequest request;
    request.method = "POST";
    request.url = serviceEndpoint(m_serviceOrigin, "/api/transcribe");
    request.headers = {{"Authorization", "Bearer " + m_translationConfiguration.apiKey}};
    request.body = json::serialize(body);
    request.contentType = "application/json";
    // No limit on the whole transfer: a long voice note on a slow uplink takes as long as it
    // takes while bytes keep moving. The voice session's I/O time-out, which every read and
    // write on the connection restarts, still ends an upload that has stalled.

    const CancellationToken cancellation = m_cancellable.token();
    ++m_voiceInFlight;
    m_voiceSession.send(
        request,
        [this, cancellation, id = voice.id](HttpResult result) {
            if (cancellation.isCancelled())
                return;
            --m_voiceInFlight;
            if (!result) {
                deliverVoiceTranslation(id, "", result.error().description, true);
                return;
            }
            auto parsed = json::parseValue(result->body);
            if (!parsed) {
                deliverVoiceTranslation(id, "", DecodingError::dataCorrupted().description, true);
                return;
            }
            const bool ok = result->status >= 200 && result->status <= 299;
            if (ok && parsed->is_object()) {
                auto transcript = parsed->find("transcript");
                auto translation = parsed->find("translation");
                if (transcript != parsed->end() && transcript->is_string() &&
                    translation != parsed->end() && translation->is_string()) {
                    deliverVoiceTranslation(id, transcript->get<std::string>(),
                                            translation->get<std::string>(), false);
                    return;
                }
            }
            std::string message = kVoiceFailure;
            if (parsed->is_object()) {
                // A blank error text would leave the page with an empty failure.
                auto error = parsed->find("error");
                if (error != parsed->end() && error->is_string() &&
                    !text::trimmed(error->get_ref<const std::string&>()).empty())
                    message = error->get<std::string>();
            }
            deliverVoiceTranslation(id, "", TranslationError::server(message).description(), true);
        },
        m_cancellable.get());
}

void TranslationBridge::call(std::string_view function, const nlohmann::json& arguments) {
    if (auto script = pageCallScript(function, arguments))
        m_evaluate(*script);
}

void TranslationBridge::deliverTranslation(const std::string& id, const std::string& text,
                                           bool failed) {
    call("aureloSetTranslation", nlohmann::json::array({id, text, failed}));
}

void TranslationBridge::deliverPageTranslation(const std::string& id, const std::string& text,
                                               bool failed) {
    call("aureloSetPageTranslation", nlohmann::json::array({id, text, failed}));
}

void TranslationBridge::deliverComposerTranslation(const std::string& id, const std::string& text,
                                                   bool failed) {
    call("aureloSetComposerTranslation", nlohmann::json::array({id, text, failed}));
}

void TranslationBridge::deliverContextTranslation(const std::string& id, const std::string& text,
                                                  bool failed) {
    call("aureloShowContextTranslation", nlohmann::json::array({id, text, failed}));
}

void TranslationBridge::deliverComposerWarm(const std::string& id, const std::string& source,
                                            const std::string& text, bool failed) {
    call("aureloSetComposerWarm", nlohmann::json::array({id, source, text, failed}));
}

void TranslationBridge::deliverVoiceTranslation(const std::string& id,
                                                const std::string& transcript,
                                                const std::string& translation, bool failed) {
    call("aureloSetVoiceTranslation", nlohmann::json::array({id, transcript, translation, failed}));
}

void TranslationBridge::applyTranslationActive(bool active) {
    if (active == m_lastTranslationActive)
        return;
    m_lastTranslationActive = active;
    setTranslationActive(active);
    m_evaluate(std::string("window.aureloSetTranslationActive?.(") + (active ? "true" : "false") +
               ")");
}

} // namespace aurelo
