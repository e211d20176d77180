#pragma once

#include "captions/SpeechRecognitionRequest.hpp"

#include <functional>
#include <memory>
#include <string>

namespace aurelo {

// What a recognition task reports, always on the main loop.
struct SpeechRecognitionEvent {
    enum class Kind {
        Ready,   // the model is loaded and audio is being listened to
        Partial, // the best guess for the utterance still being spoken
        Final,   // an utterance ended (a pause in the speech); its text will not change again
        Failed,  // the recogniser could not be set up; nothing else follows
    };
    Kind kind = Kind::Partial;
    std::string text;

    friend bool operator==(const SpeechRecognitionEvent&, const SpeechRecognitionEvent&) = default;
};

// A running recognition of one request. Destroying it cancels it.
class SpeechRecognitionTask {
public:
    virtual ~SpeechRecognitionTask() = default;
    // After this returns no further event is reported. Main thread only.
    virtual void cancel() = 0;
};

// A recogniser for one language. Tasks listen to a request's audio on a thread of their own and
// report on the main loop.
class SpeechRecognizer {
public:
    using EventHandler = std::function<void(const SpeechRecognitionEvent&)>;

    virtual ~SpeechRecognizer() = default;
    virtual std::string locale() const = 0;
    virtual std::unique_ptr<SpeechRecognitionTask>
    recognitionTask(std::shared_ptr<SpeechRecognitionRequest> request, EventHandler handler) = 0;
};

} // namespace aurelo
