#pragma once

#include "captions/ApplicationAudioCaptureStream.hpp"
#include "captions/ApplicationAudioOutput.hpp"
#include "captions/CaptionTranscript.hpp"
#include "captions/SpeechRecognizer.hpp"
#include "platform/Cancellable.hpp"
#include "translation/TranslationService.hpp"
#include "translation/TranslationTypes.hpp"

#include <glib.h>
#include <sigc++/sigc++.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace aurelo {

// The state behind the window's live-caption strip, and the owner of a caption run: capture of
// this application's own audio, US English recognition, and translation into Chinese.
//
// Everything here runs on the main thread. Capture and recognition run on threads of their own
// and report through the main loop; a report that arrives after its run ended is ignored.
class LiveCaptionManager {
public:
    static constexpr const char* kInitialStatus = "点击“实时字幕”捕获应用声音";
    static constexpr const char* kStoppedStatus = "实时字幕已停止";
    static constexpr const char* kConnectingStatus = "正在连接声音服务器…";
    static constexpr const char* kWaitingForAudioStatus = "正在等待本应用播放声音…";
    static constexpr const char* kListeningStatus = "正在识别应用声音（美式英语）…";
    static constexpr const char* kNoSoundServerStatus = "无法连接声音服务器，实时字幕未启动。";
    static constexpr const char* kSoundServerLostStatus =
        "与声音服务器的连接已断开，实时字幕已停止。";
    static constexpr const char* kNoRecognizerStatus = "无法加载英语语音识别模型，实时字幕未启动。";
    static constexpr const char* kTranslationFailedPrefix = "字幕翻译失败：";
    static constexpr const char* kRunningTitle = "实时字幕正在运行";
    static constexpr const char* kTitle = "实时字幕";
    static constexpr const char* kTargetLanguage = "zh-CN";
    static constexpr const char* kRecognizerLocale = "en-US";

    // The global translation configuration (provider and login token) at the moment a run starts.
    using ConfigurationProvider = std::function<TranslationConfiguration()>;
    using StreamFactory = std::function<std::unique_ptr<ApplicationAudioCaptureStream>()>;

    struct Dependencies {
        StreamFactory makeStream;
        std::shared_ptr<SpeechRecognizer> recognizer; // null: no recogniser for "en-US"
        // While a sentence is still being spoken its translation is refreshed at most this
        // often; the end of the sentence is translated at once.
        std::chrono::milliseconds translationInterval{1000};
        // A server that accepts the connection but never answers would otherwise leave the
        // strip saying "connecting" for ever.
        std::chrono::milliseconds connectionTimeout{10000};
    };

    // Captures through the sound server and recognises with PocketSphinx.
    LiveCaptionManager(const TranslationService& service, ConfigurationProvider configuration);
    LiveCaptionManager(const TranslationService& service, ConfigurationProvider configuration,
                       Dependencies dependencies);
    ~LiveCaptionManager();
    LiveCaptionManager(const LiveCaptionManager&) = delete;
    LiveCaptionManager& operator=(const LiveCaptionManager&) = delete;

    bool isRunning() const { return m_isRunning; }
    const std::string& sourceText() const { return m_sourceText; }
    // What "复制文字" copies: nothing without a source text, the source alone without a
    // translation, otherwise both on labelled lines.
    std::optional<std::string> copyText() const { return copyText(m_sourceText, m_translatedText); }
    static std::optional<std::string> copyText(const std::string& source,
                                               const std::string& translated);
    const std::string& translatedText() const { return m_translatedText; }
    const std::string& statusText() const { return m_statusText; }

    // Each emitted after its field changed.
    sigc::signal<void()>& signalIsRunningChanged() { return m_isRunningChanged; }
    sigc::signal<void()>& signalSourceTextChanged() { return m_sourceTextChanged; }
    sigc::signal<void()>& signalTranslatedTextChanged() { return m_translatedTextChanged; }
    sigc::signal<void()>& signalStatusTextChanged() { return m_statusTextChanged; }

    // The strip's header: whether captions are being made right now.
    const char* panelTitle() const { return m_isRunning ? kRunningTitle : kTitle; }
    // Whether the strip has something to show: a run, the texts of the last one, or the reason
    // a run did not start or ended on its own.
    bool panelShown() const;
    // The strip's "关闭": ends a run (its texts stay to be read); without a run, empties the texts
    // and puts the strip away.
    void closePanel();

    // Starts a caption run unless one is running. The texts of the previous run are cleared.
    void start();
    // Ends the run, if any; the texts stay so that they can still be read and copied.
    void stop();
    // The strip's "清空": empties both texts; a running run goes on with new speech.
    void clearTexts();

private:
    // One run's translations: cancelled when the run ends, so answers to it are dropped.
    struct TranslationTask {
        Cancellable cancellable;
        guint timer = 0;
    };

    void endRun(const char* status);
    void handleCaptureEvent(const AudioCaptureEvent& event);
    void handleRecognitionEvent(const SpeechRecognitionEvent& event);
    void scheduleTranslation();
    void translateOpenUtterance();
    void translate(std::optional<CaptionTranscript::TranslationJob> job);
    void cancelTranslationTimer();
    static gboolean translationTimerCallback(gpointer self);
    static gboolean connectionTimeoutCallback(gpointer self);
    void cancelConnectionTimeout();

    void setRunning(bool running);
    void setStatus(std::string status);
    void publishTexts();

    const TranslationService& m_service;
    ConfigurationProvider m_configurationProvider;
    Dependencies m_dependencies;

    bool m_isRunning = false;
    std::string m_sourceText;
    std::string m_translatedText;
    std::string m_statusText = kInitialStatus;

    // The parts of a run, in the order the run is built.
    std::shared_ptr<SpeechRecognizer> m_recognizer;
    std::shared_ptr<SpeechRecognitionRequest> m_recognitionRequest;
    std::unique_ptr<SpeechRecognitionTask> m_recognitionTask;
    std::optional<TranslationTask> m_translationTask;
    std::optional<TranslationConfiguration> m_activeConfiguration;
    std::shared_ptr<ApplicationAudioCaptureStream> m_stream;
    std::shared_ptr<ApplicationAudioOutput> m_audioOutput;

    CaptionTranscript m_transcript;
    // The status while a run is healthy, shown again after a translation failure clears.
    std::string m_runningStatus;
    std::uint64_t m_run = 0;
    guint m_connectionTimeout = 0;
    Cancellable m_cancellable;

    sigc::signal<void()> m_isRunningChanged;
    sigc::signal<void()> m_sourceTextChanged;
    sigc::signal<void()> m_translatedTextChanged;
    sigc::signal<void()> m_statusTextChanged;
};

} // namespace aurelo
