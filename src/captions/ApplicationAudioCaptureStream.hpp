#pragma once

#include "captions/ApplicationAudioOutput.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace aurelo {

// What a capture stream reports about itself, always on the main loop.
struct AudioCaptureEvent {
    enum class Kind {
        Connected,          // the sound server answered; capture follows our playback streams
        StreamCountChanged, // `streamCount` of our playback streams are being recorded
        ServerUnavailable,  // no sound server could be reached; the stream has given up
        ConnectionLost,     // the sound server went away while capturing
    };
    Kind kind = Kind::Connected;
    std::size_t streamCount = 0;

    friend bool operator==(const AudioCaptureEvent&, const AudioCaptureEvent&) = default;
};

// A capture stream of this application's own audio. It calls its output's `stream()` on a
// thread of its own for every captured buffer.
class ApplicationAudioCaptureStream {
public:
    using EventHandler = std::function<void(const AudioCaptureEvent&)>;
    // Receives the error of stopping, if any, on the main loop.
    using StopCompletion = std::function<void(std::optional<std::string> error)>;

    virtual ~ApplicationAudioCaptureStream() = default;

    // Main thread. Both the output and the handler are held until the capture stops.
    virtual void startCapture(std::shared_ptr<ApplicationAudioOutput> output,
                              EventHandler handler) = 0;
    // Main thread. After it returns neither the output nor the handler is called again.
    virtual void stopCapture(StopCompletion completion) = 0;
};

} // namespace aurelo
