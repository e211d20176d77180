#pragma once

#include "platform/Cancellable.hpp"
#include "platform/GRef.hpp"
#include "platform/HttpSession.hpp"
#include "translation/TranslationService.hpp"
#include "web/BackgroundTranslationQueue.hpp"
#include "web/BridgeMessage.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace aurelo {

// The page side of a session's coordinator: what a page's bridge messages set off and every
// answer that goes back. It knows nothing of WebKit; the coordinator hands it typed messages and
// a function that evaluates a script in the page (in our private script world), so all of its
// rules can be checked without a display.
class TranslationBridge {
public:
    using PageEvaluator = std::function<void(const std::string& script)>;

    // What one page may ask of us at once. The page script posts far less than any of these;
    // they exist for a page whose script is not ours (a compromised or hostile site). The text
    // bound is the managed service's own: a longer text could only come back refused.
    static constexpr std::size_t kMaximumTextCharacters = 10000;
    // Ids and language codes are short tokens that come back in every answer.
    static constexpr std::size_t kMaximumIdBytes = 256;
    static constexpr std::size_t kMaximumTargetBytes = 64;
    // Base64 of the page's own 18 MB limit for a voice message.
    static constexpr std::size_t kMaximumVoiceDataBytes = (18u * 1024 * 1024 + 2) / 3 * 4;
    static constexpr std::size_t kMaximumMimeBytes = 128;
    // Direct requests are one per composer send, warm-up or selection: a handful at most.
    static constexpr int kMaximumDirectInFlight = 8;
    // Each voice upload holds its audio in memory until answered.
    static constexpr int kMaximumVoiceInFlight = 2;

    static constexpr const char* kTextTooLong = "翻译失败：单条文本过长（最多 10000 字）。";
    static constexpr const char* kUnknownKind = "翻译失败：不支持的请求类型。";
    static constexpr const char* kTooManyRequests =
        "翻译失败：同时进行的翻译请求过多，请稍后重试。";
    static constexpr const char* kVoiceTooLarge = "语音文件超过18MB";
    static constexpr const char* kTooManyVoiceRequests = "语音翻译请求过多，请稍后重试。";

    // `voiceSession` carries the transcription requests to `serviceOrigin` + "/api/transcribe".
    TranslationBridge(const TranslationService& service, HttpSession& voiceSession,
                      std::string serviceOrigin, PageEvaluator evaluate);
    TranslationBridge(const TranslationBridge&) = delete;
    TranslationBridge& operator=(const TranslationBridge&) = delete;
    // Answers still on their way are dropped; a voice upload in progress is cancelled.
    ~TranslationBridge();

    // Each request copies the configuration at the moment it arrives.
    void setConfiguration(const TranslationConfiguration& configuration) {
        m_translationConfiguration = configuration;
    }
    const TranslationConfiguration& configuration() const { return m_translationConfiguration; }
    void setOnUnreadCountChanged(std::function<void(int)> callback) {
        m_onUnreadCountChanged = std::move(callback);
    }
    // Whether the page shows its log-in view; called on the main loop, as the count is.
    void setOnLoginReported(std::function<void(bool)> callback) {
        m_onLoginReported = std::move(callback);
    }
    // Whether the page shows chat messages the page script knows; on the main loop too.
    void setOnMessagesRecognised(std::function<void(bool)> callback) {
        m_onMessagesRecognised = std::move(callback);
    }

    // The conversation the page shows (nullopt: none), as the page reports it; on the main loop.
    void setOnConversationReported(std::function<void(std::optional<std::string>)> callback) {
        m_onConversationReported = std::move(callback);
    }
    // A customer's message of a conversation was translated and the service named its language:
    // (conversation, message text, detected code). On the main loop, as the answer arrives.
    using IncomingLanguage = std::function<void(const std::string& conversation,
                                                const std::string& text, const std::string& code)>;
    void setOnIncomingLanguage(IncomingLanguage callback) {
        m_onIncomingLanguage = std::move(callback);
    }

    // Dispatches one message from the page.
    void receive(const BridgeMessage& message);

    void deliverTranslation(const std::string& id, const std::string& text, bool failed);
    void deliverPageTranslation(const std::string& id, const std::string& text, bool failed);
    void deliverComposerTranslation(const std::string& id, const std::string& text, bool failed);
    void deliverContextTranslation(const std::string& id, const std::string& text, bool failed);
    void deliverComposerWarm(const std::string& id, const std::string& source,
                             const std::string& text, bool failed);
    void deliverVoiceTranslation(const std::string& id, const std::string& transcript,
                                 const std::string& translation, bool failed);

    // The host's active switch: acts only when `active` differs from the last flag it saw
    // (initially `initial`), then resumes or clears the queue and tells the page.
    void applyTranslationActive(bool active);
    void setLastTranslationActive(bool active) { m_lastTranslationActive = active; }
    bool lastTranslationActive() const { return m_lastTranslationActive; }
    // The application side of the switch: resumes or clears the background queue.
    void setTranslationActive(bool active) { m_backgroundQueue.setTranslationActive(active); }

    BackgroundTranslationQueue& backgroundQueue() { return m_backgroundQueue; }
    int directInFlight() const { return m_directInFlight; }
    int voiceInFlight() const { return m_voiceInFlight; }

    // "请先在“设置”中配置 <provider>" when no login token is configured, otherwise
    // "翻译失败：<description>".
    static std::string directFailureMessage(const TranslationConfiguration& configuration,
                                            const ServiceFailure& failure);

private:
    // Hands a page's report to `callback` on the main loop, unless the bridge is gone by then.
    template <typename Value>
    void report(const std::function<void(Value)>& callback, Value value);
    void call(std::string_view function, const nlohmann::json& arguments);
    void translateDirectly(const TranslationRequest& request);
    void answerDirect(const TranslationRequest& request, const std::string& text, bool failed);
    void transcribe(const VoiceRequest& request);
    void receiveTranslation(const TranslationRequest& request);

    const TranslationService& m_service;
    HttpSession& m_voiceSession;
    std::string m_serviceOrigin;
    PageEvaluator m_evaluate;
    TranslationConfiguration m_translationConfiguration;
    std::function<void(int)> m_onUnreadCountChanged;
    std::function<void(bool)> m_onLoginReported;
    std::function<void(bool)> m_onMessagesRecognised;
    std::function<void(std::optional<std::string>)> m_onConversationReported;
    IncomingLanguage m_onIncomingLanguage;
    bool m_lastTranslationActive = false;
    int m_directInFlight = 0;
    int m_voiceInFlight = 0;
    BackgroundTranslationQueue m_backgroundQueue;
    Cancellable m_cancellable;
};

} // namespace aurelo
