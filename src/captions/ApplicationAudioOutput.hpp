#pragma once

#include "captions/AudioBuffers.hpp"

#include <functional>
#include <optional>

namespace aurelo {

// The adapter between a capture stream and the recogniser: it receives every buffer the stream
// captures, keeps only usable audio, copies it into an owned PCM buffer and hands that on.
//
// `stream()` runs on the capture stream's own thread. The adapter holds no state besides its
// callback, so the callback alone decides what is safe to do there.
class ApplicationAudioOutput {
public:
    using Receive = std::function<void(PcmBuffer)>;

    // An adapter without a callback would drop everything; it is refused (std::invalid_argument).
    explicit ApplicationAudioOutput(Receive receive);

    // Called by the capture stream for each captured buffer, with the kind of output it carries.
    // Everything that is not valid, ready, described, non-empty audio is dropped without a word.
    void stream(const CapturedSampleBuffer& buffer, CaptureOutputType type) const;

    // The conversion on its own: the PCM buffer `stream()` would hand on, or nothing.
    static std::optional<PcmBuffer> convert(const CapturedSampleBuffer& buffer,
                                            CaptureOutputType type);

private:
    Receive m_receive;
};

} // namespace aurelo
