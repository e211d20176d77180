#pragma once

// The audio values that travel between the capture stream, the adapter that turns captured
// buffers into PCM, and the recogniser. They are plain data so that each step can be tested
// with buffers made up on the spot.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace aurelo {

// What a capture stream delivers. Only `Audio` is ever converted; the other kinds exist because
// a capture source may hand over more than the application's sound.
enum class CaptureOutputType { Screen, Audio, Microphone };

// Interleaved sample encodings the adapter understands. `Unknown` stands for whatever a sound
// server reports that we do not (A-law, 24-bit packed, …); such buffers have no usable format.
enum class AudioSampleFormat { Unknown, U8, S16LE, S16BE, S32LE, S32BE, Float32LE, Float32BE };

// The stream description attached to a captured buffer, as reported by the sound server.
struct AudioStreamDescription {
    AudioSampleFormat sampleFormat = AudioSampleFormat::Unknown;
    std::uint32_t sampleRate = 0;
    std::uint32_t channelCount = 0;
};

// A buffer as the capture stream hands it over. `data` is borrowed for the duration of the call;
// a null `data` with a non-zero size is a gap that the server reported instead of samples.
struct CapturedSampleBuffer {
    bool isValid = true;
    std::optional<AudioStreamDescription> formatDescription;
    const void* data = nullptr;
    std::size_t byteCount = 0;

    bool dataIsReady() const { return data != nullptr; }
};

// A checked, usable audio format: known encoding, a sane rate and channel count.
struct AudioFormat {
    AudioSampleFormat sampleFormat = AudioSampleFormat::S16LE;
    std::uint32_t sampleRate = 16000;
    std::uint32_t channelCount = 1;

    // Fails for unknown encodings, a rate of zero or beyond 384 kHz, and channel counts of zero
    // or more than 32 (the most any sound server here carries).
    static std::optional<AudioFormat> make(const AudioStreamDescription& description);

    std::size_t bytesPerSample() const;
    std::size_t bytesPerFrame() const { return bytesPerSample() * channelCount; }

    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// Owned PCM audio in `format`, `frameLength` frames, interleaved bytes as captured.
struct PcmBuffer {
    AudioFormat format;
    std::uint32_t frameCapacity = 0;
    std::uint32_t frameLength = 0;
    std::vector<std::byte> bytes;

    PcmBuffer(AudioFormat format, std::uint32_t frameCapacity);

    // The sample of `channel` in `frame` as a float in [-1, 1].
    float sampleAt(std::uint32_t frame, std::uint32_t channel) const;
};

} // namespace aurelo
