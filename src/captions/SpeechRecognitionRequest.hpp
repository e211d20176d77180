#pragma once

#include "captions/AudioBuffers.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace aurelo {

// A recognition request fed with audio buffers as they are captured: the capture thread appends,
// the recognition thread takes. Audio is kept in the form the recogniser's acoustic model was
// trained on, 16 kHz mono signed 16-bit, whatever format it was captured in.
class SpeechRecognitionRequest {
public:
    static constexpr std::uint32_t kSampleRate = 16000;
    // Thirty seconds of audio. When the recogniser falls that far behind (a starved CPU), newer
    // audio is dropped rather than letting the queue grow without bound.
    static constexpr std::size_t kMaximumQueuedSamples = 30 * kSampleRate;

    // Safe from any thread. Ignored once the audio has ended.
    void append(const PcmBuffer& buffer);
    // No more audio will come; the recogniser finishes what is queued.
    void endAudio();
    bool audioHasEnded() const;

    // Blocks until audio is queued, the audio has ended or `interrupt()` is called. Returns the
    // queued audio, or nothing once the audio has ended and everything was taken, or after an
    // interrupt.
    std::optional<std::vector<std::int16_t>> takeAudio();
    // Wakes `takeAudio()` for good; used when the recognition is cancelled.
    void interrupt();

    std::size_t droppedSamples() const;

    // Down-mixes to mono and resamples to 16 kHz (linear interpolation).
    static std::vector<std::int16_t> recognizerSamples(const PcmBuffer& buffer);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<std::int16_t>> m_chunks;
    std::size_t m_queuedSamples = 0;
    std::size_t m_droppedSamples = 0;
    bool m_ended = false;
    bool m_interrupted = false;
};

} // namespace aurelo
