#include "service/SpeechTranscriber.hpp"

#include "platform/Text.hpp"

#include <libsoup/soup.h>

#include <algorithm>
#include <array>

namespace aurelo::service {

namespace {
constexpr const char* kName = "语音识别服务";
}

std::optional<std::string> SpeechTranscriber::fileExtensionForMime(const std::string& mime) {
    std::string type = mime.substr(0, mime.find(';'));
    while (!type.empty() && type.back() == ' ')
        type.pop_back();
    type = text::asciiLowercased(type);
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 12> kTypes{{
        {"audio/ogg", "ogg"},
        {"audio/opus", "ogg"},
        {"audio/mpeg", "mp3"},
        {"audio/mp3", "mp3"},
        {"audio/mp4", "m4a"},
        {"audio/x-m4a", "m4a"},
        {"audio/aac", "m4a"},
        {"audio/wav", "wav"},
        {"audio/x-wav", "wav"},
        {"audio/webm", "webm"},
        {"video/webm", "webm"},
        {"audio/flac", "flac"},
    }};
    for (auto [name, extension] : kTypes)
        if (type == name)
            return std::string(extension);
    return std::nullopt;
}

void SpeechTranscriber::transcribe(std::string audio, const std::string& mime,
                                   const std::string& source,
                                   std::function<void(TranscriptOutcome)> completion) {
    std::string extension = fileExtensionForMime(mime).value_or("ogg");
    std::string type = mime.substr(0, mime.find(';'));
    auto multipart = std::unique_ptr<SoupMultipart, decltype(&soup_multipart_free)>(
        soup_multipart_new(SOUP_FORM_MIME_TYPE_MULTIPART), soup_multipart_free);
    auto bytes = adoptGRef(g_bytes_new(audio.data(), audio.size()));
    std::string().swap(audio);
    soup_multipart_append_form_file(multipart.get(), "file", ("voice." + extension).c_str(),
                                    type.c_str(), bytes.get());
    soup_multipart_append_form_string(multipart.get(), "model", m_settings.model.c_str());
    soup_multipart_append_form_string(multipart.get(), "response_format", "json");
    if (source != "auto" && !source.empty()) {
        // The endpoint takes ISO 639-1 codes: "zh-CN" is "zh".
        std::string language = source.substr(0, source.find('-'));
        soup_multipart_append_form_string(multipart.get(), "language", language.c_str());
    }
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_MULTIPART);
    GBytes* body = nullptr;
    soup_multipart_to_message(multipart.get(), headers, &body);
    auto bodyHolder = adoptGRef(body);
    const char* contentType = soup_message_headers_get_one(headers, "Content-Type");

    HttpRequest request;
    request.method = "POST";
    request.url =
        baseURL(m_settings.endpoint, "https://api.openai.com/v1") + "/audio/transcriptions";
    request.headers = {{"Authorization", "Bearer " + m_settings.apiKey}};
    request.contentType = contentType ? contentType : "multipart/form-data";
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(body, &size));
    request.body = std::string(data ? data : "", data ? size : 0);
    soup_message_headers_unref(headers);
    bodyHolder.reset();
    bytes.reset();
    multipart.reset();

    sendUpstream(m_context, kName, std::move(request),
                 [completion = std::move(completion)](JsonOutcome answer) {
                     if (!answer)
                         return completion(std::unexpected(answer.error()));
                     if (!answer->is_object() || !answer->contains("text") ||
                         !(*answer)["text"].is_string())
                         return completion(std::unexpected(unrecognisedAnswer(kName)));
                     completion((*answer)["text"].get<std::string>());
                 });
}

} // namespace aurelo::service
