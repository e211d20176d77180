#pragma once

// Speech to text through an OpenAI-compatible transcription endpoint
// (https://platform.openai.com/docs/api-reference/audio/createTranscription):
//   POST {base}/audio/transcriptions, "Authorization: Bearer KEY", multipart/form-data with
//   "file", "model", optional "language" and "response_format" = "json" -> {"text": "…"}
// Self-hosted recognisers speak the same protocol, so the base URL is configuration.

#include "service/EngineSettings.hpp"
#include "service/ProviderHttp.hpp"

#include <expected>
#include <functional>
#include <string>

namespace aurelo::service {

using TranscriptOutcome = std::expected<std::string, EngineFailure>;

class SpeechTranscriber {
public:
    SpeechTranscriber(UpstreamContext context, EngineSettings settings)
        : m_context(std::move(context)), m_settings(std::move(settings)) {}

    // `audio` holds the decoded bytes, `mime` their media type ("audio/ogg; codecs=opus"),
    // `source` a client language code or "auto". The audio is freed once the upload is built.
    void transcribe(std::string audio, const std::string& mime, const std::string& source,
                    std::function<void(TranscriptOutcome)> completion);

    // The file name extension the endpoint uses to recognise the container; nullopt for media
    // types that are not audio we accept.
    static std::optional<std::string> fileExtensionForMime(const std::string& mime);

private:
    UpstreamContext m_context;
    EngineSettings m_settings;
};

} // namespace aurelo::service
