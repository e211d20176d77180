#pragma once

#include "captions/ApplicationAudioCaptureStream.hpp"
#include "captions/OwnPlaybackStreamRule.hpp"

#include <memory>

namespace aurelo {

// Captures this application's playback through the desktop's sound server, PulseAudio or
// PipeWire's PulseAudio service. For each playback stream that the own-stream rule accepts it
// opens a record stream on the monitor of that stream's sink, restricted to that one stream
// (pa_stream_set_monitor_stream), so the rest of the desktop and the microphone are never heard.
// Streams that start later (a voice message played after captions were started) are picked up
// as the server announces them.
//
// libpulse runs on a threaded main loop of its own; audio is handed to the output there, and
// events are posted to the GLib main loop.
class PulseAudioCaptureStream final : public ApplicationAudioCaptureStream {
public:
    explicit PulseAudioCaptureStream(
        OwnPlaybackStreamRule rule = OwnPlaybackStreamRule::forThisProcess());
    ~PulseAudioCaptureStream() override;
    PulseAudioCaptureStream(const PulseAudioCaptureStream&) = delete;
    PulseAudioCaptureStream& operator=(const PulseAudioCaptureStream&) = delete;

    void startCapture(std::shared_ptr<ApplicationAudioOutput> output,
                      EventHandler handler) override;
    void stopCapture(StopCompletion completion) override;

    struct Connection;

private:
    void tearDown();

    OwnPlaybackStreamRule m_rule;
    std::unique_ptr<Connection> m_connection;
};

} // namespace aurelo
