#include "captions/LiveCaptionManager.hpp"

#include "captions/PocketSphinxRecognizer.hpp"
#include "captions/PulseAudioCaptureStream.hpp"
#include "platform/MainLoop.hpp"

namespace aurelo {

std::optional<std::string> LiveCaptionManager::copyText(const std::string& source,
                                                        const std::string& translated) {
    if (source.empty())
        return std::nullopt;
    if (translated.empty())
        return source;
    return "原文：" + source + "\n中文：" + translated;
}

namespace {

LiveCaptionManager::Dependencies desktopDependencies() {
    LiveCaptionManager::Dependencies dependencies;
    dependencies.makeStream = [] { return std::make_unique<PulseAudioCaptureStream>(); };
    dependencies.recognizer =
        PocketSphinxRecognizer::forLocale(LiveCaptionManager::kRecognizerLocale);
    return dependencies;
}

} // namespace

LiveCaptionManager::LiveCaptionManager(const TranslationService& service,
                                       ConfigurationProvider configuration)
    : LiveCaptionManager(service, std::move(configuration), desktopDependencies()) {}

LiveCaptionManager::LiveCaptionManager(const TranslationService& service,
                                       ConfigurationProvider configuration,
                                       Dependencies dependencies)
    : m_service(service), m_configurationProvider(std::move(configuration)),
      m_dependencies(std::move(dependencies)), m_recognizer(m_dependencies.recognizer) {}

LiveCaptionManager::~LiveCaptionManager() {
    // No signal is emitted any more, but every part of a run is released: the timer (which
    // points at this object), the recognition thread and the capture stream.
    m_cancellable.cancel();
    cancelTranslationTimer();
    cancelConnectionTimeout();
    if (m_translationTask)
        m_translationTask->cancellable.cancel();
    if (m_recognitionTask)
        m_recognitionTask->cancel();
    if (m_recognitionRequest)
        m_recognitionRequest->endAudio();
}

void LiveCaptionManager::start() {
    if (m_isRunning)
        return;
    if (!m_recognizer) {
        setStatus(kNoRecognizerStatus);
        return;
    }
    auto stream = m_dependencies.makeStream ? m_dependencies.makeStream() : nullptr;
    if (!stream) {
        setStatus(kNoSoundServerStatus);
        return;
    }

    const auto run = ++m_run;
    const CancellationToken cancellation = m_cancellable.token();
    m_transcript.clear();
    publishTexts();

    m_activeConfiguration =
        m_configurationProvider ? m_configurationProvider() : TranslationConfiguration{};
    m_translationTask.emplace();
    m_recognitionRequest = std::make_shared<SpeechRecognitionRequest>();
    // Runs on the capture thread: the request is the one thing here that is safe to use there.
    m_audioOutput = std::make_shared<ApplicationAudioOutput>(
        [request = m_recognitionRequest](PcmBuffer buffer) { request->append(buffer); });
    m_recognitionTask = m_recognizer->recognitionTask(
        m_recognitionRequest, [this, cancellation, run](const SpeechRecognitionEvent& event) {
            if (!cancellation.isCancelled() && run == m_run && m_isRunning)
                handleRecognitionEvent(event);
        });
    m_stream = std::move(stream);

    m_runningStatus = kConnectingStatus;
    // Points at this object; endRun() and the destructor remove it.
    m_connectionTimeout =
        g_timeout_add(static_cast<guint>(m_dependencies.connectionTimeout.count()),
                      connectionTimeoutCallback, this);
    m_stream->startCapture(m_audioOutput,
                           [this, cancellation, run](const AudioCaptureEvent& event) {
                               if (!cancellation.isCancelled() && run == m_run && m_isRunning)
                                   handleCaptureEvent(event);
                           });
    // Last, because a receiver of these signals may already call stop().
    setRunning(true);
    setStatus(m_runningStatus);
}

void LiveCaptionManager::stop() {
    endRun(kStoppedStatus);
}

bool LiveCaptionManager::panelShown() const {
    return m_isRunning || !m_sourceText.empty() || !m_translatedText.empty() ||
           (m_statusText != kInitialStatus && m_statusText != kStoppedStatus);
}

void LiveCaptionManager::closePanel() {
    if (m_isRunning) {
        stop();
        return;
    }
    clearTexts();
    setStatus(kInitialStatus);
}

void LiveCaptionManager::endRun(const char* status) {
    cancelConnectionTimeout();
    cancelTranslationTimer();
    if (m_translationTask) {
        m_translationTask->cancellable.cancel();
        m_translationTask.reset();
    }

    if (m_recognitionTask)
        m_recognitionTask->cancel();
    if (m_recognitionRequest)
        m_recognitionRequest->endAudio();
    m_recognitionTask.reset();
    m_recognitionRequest.reset();

    auto stream = std::move(m_stream);
    m_stream.reset();
    m_audioOutput.reset();

    setRunning(false);
    setStatus(status);

    if (stream) {
        // Stopping may fail (the server is already gone); there is nothing to tell anyone then.
        postToMainLoop([stream] { stream->stopCapture([](std::optional<std::string>) {}); });
    }
}

void LiveCaptionManager::clearTexts() {
    m_transcript.clear();
    publishTexts();
}

void LiveCaptionManager::handleCaptureEvent(const AudioCaptureEvent& event) {
    switch (event.kind) {
    case AudioCaptureEvent::Kind::Connected:
    case AudioCaptureEvent::Kind::StreamCountChanged:
        cancelConnectionTimeout();
        m_runningStatus = event.streamCount > 0 ? kListeningStatus : kWaitingForAudioStatus;
        setStatus(m_runningStatus);
        break;
    case AudioCaptureEvent::Kind::ServerUnavailable:
        endRun(kNoSoundServerStatus);
        break;
    case AudioCaptureEvent::Kind::ConnectionLost:
        endRun(kSoundServerLostStatus);
        break;
    }
}

void LiveCaptionManager::handleRecognitionEvent(const SpeechRecognitionEvent& event) {
    switch (event.kind) {
    case SpeechRecognitionEvent::Kind::Ready:
        break;
    case SpeechRecognitionEvent::Kind::Failed:
        endRun(kNoRecognizerStatus);
        break;
    case SpeechRecognitionEvent::Kind::Partial:
        if (event.text.empty())
            break;
        m_transcript.update(event.text, false);
        publishTexts();
        scheduleTranslation();
        break;
    case SpeechRecognitionEvent::Kind::Final: {
        if (event.text.empty())
            break;
        const auto utterance = m_transcript.update(event.text, true);
        publishTexts();
        // The finished sentence goes out now; a pending refresh of it would only repeat it.
        cancelTranslationTimer();
        translate(m_transcript.takeTranslationJob(utterance));
        break;
    }
    }
}

void LiveCaptionManager::scheduleTranslation() {
    if (!m_translationTask || m_translationTask->timer != 0)
        return;
    // The timer points at this object; endRun() and the destructor remove it first.
    m_translationTask->timer =
        g_timeout_add(static_cast<guint>(m_dependencies.translationInterval.count()),
                      translationTimerCallback, this);
}

gboolean LiveCaptionManager::translationTimerCallback(gpointer self) {
    auto* manager = static_cast<LiveCaptionManager*>(self);
    if (manager->m_translationTask)
        manager->m_translationTask->timer = 0;
    manager->translateOpenUtterance();
    return G_SOURCE_REMOVE;
}

gboolean LiveCaptionManager::connectionTimeoutCallback(gpointer self) {
    auto* manager = static_cast<LiveCaptionManager*>(self);
    manager->m_connectionTimeout = 0;
    manager->endRun(kNoSoundServerStatus);
    return G_SOURCE_REMOVE;
}

void LiveCaptionManager::cancelConnectionTimeout() {
    if (m_connectionTimeout != 0) {
        g_source_remove(m_connectionTimeout);
        m_connectionTimeout = 0;
    }
}

void LiveCaptionManager::cancelTranslationTimer() {
    if (m_translationTask && m_translationTask->timer != 0) {
        g_source_remove(m_translationTask->timer);
        m_translationTask->timer = 0;
    }
}

void LiveCaptionManager::translateOpenUtterance() {
    if (auto utterance = m_transcript.openUtterance())
        translate(m_transcript.takeTranslationJob(*utterance));
}

void LiveCaptionManager::translate(std::optional<CaptionTranscript::TranslationJob> job) {
    if (!job || !m_translationTask || !m_activeConfiguration)
        return;
    m_service.translate(job->text, kTargetLanguage, *m_activeConfiguration,
                        [this, cancellation = m_cancellable.token(),
                         runCancellation = m_translationTask->cancellable.token(),
                         job = *job](ServiceOutcome<TranslationResult> outcome) {
                            if (cancellation.isCancelled() || runCancellation.isCancelled())
                                return;
                            if (!outcome) {
                                setStatus(kTranslationFailedPrefix + describe(outcome.error()));
                                return;
                            }
                            setStatus(m_runningStatus);
                            if (m_transcript.applyTranslation(job, outcome->text))
                                publishTexts();
                        });
}

void LiveCaptionManager::setRunning(bool running) {
    if (m_isRunning == running)
        return;
    m_isRunning = running;
    m_isRunningChanged.emit();
}

void LiveCaptionManager::setStatus(std::string status) {
    if (m_statusText == status)
        return;
    m_statusText = std::move(status);
    m_statusTextChanged.emit();
}

void LiveCaptionManager::publishTexts() {
    if (auto source = m_transcript.sourceText(); source != m_sourceText) {
        m_sourceText = std::move(source);
        m_sourceTextChanged.emit();
    }
    if (auto translated = m_transcript.translatedText(); translated != m_translatedText) {
        m_translatedText = std::move(translated);
        m_translatedTextChanged.emit();
    }
}

} // namespace aurelo
