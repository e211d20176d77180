#include "captions/AudioBuffers.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace aurelo {

namespace {

constexpr std::uint32_t kMaximumSampleRate = 384000;
constexpr std::uint32_t kMaximumChannelCount = 32;

template <typename T> T readAs(const std::byte* p, bool bigEndian) {
    std::array<std::byte, sizeof(T)> raw;
    std::memcpy(raw.data(), p, sizeof(T));
    if (bigEndian != (std::endian::native == std::endian::big))
        std::reverse(raw.begin(), raw.end());
    return std::bit_cast<T>(raw);
}

} // namespace

std::optional<AudioFormat> AudioFormat::make(const AudioStreamDescription& description) {
    if (description.sampleFormat == AudioSampleFormat::Unknown)
        return std::nullopt;
    if (description.sampleRate == 0 || description.sampleRate > kMaximumSampleRate)
        return std::nullopt;
    if (description.channelCount == 0 || description.channelCount > kMaximumChannelCount)
        return std::nullopt;
    return AudioFormat{description.sampleFormat, description.sampleRate, description.channelCount};
}

std::size_t AudioFormat::bytesPerSample() const {
    switch (sampleFormat) {
    case AudioSampleFormat::U8:
        return 1;
    case AudioSampleFormat::S16LE:
    case AudioSampleFormat::S16BE:
        return 2;
    case AudioSampleFormat::S32LE:
    case AudioSampleFormat::S32BE:
    case AudioSampleFormat::Float32LE:
    case AudioSampleFormat::Float32BE:
        return 4;
    case AudioSampleFormat::Unknown:
        break;
    }
    return 0;
}

PcmBuffer::PcmBuffer(AudioFormat format, std::uint32_t frameCapacity)
    : format(format), frameCapacity(frameCapacity),
      bytes(static_cast<std::size_t>(frameCapacity) * format.bytesPerFrame()) {}

float PcmBuffer::sampleAt(std::uint32_t frame, std::uint32_t channel) const {
    if (frame >= frameLength || channel >= format.channelCount)
        return 0.0f;
    const std::byte* p =
        bytes.data() + frame * format.bytesPerFrame() + channel * format.bytesPerSample();
    switch (format.sampleFormat) {
    case AudioSampleFormat::U8:
        return (static_cast<float>(std::to_integer<std::uint8_t>(*p)) - 128.0f) / 128.0f;
    case AudioSampleFormat::S16LE:
    case AudioSampleFormat::S16BE:
        return static_cast<float>(
                   readAs<std::int16_t>(p, format.sampleFormat == AudioSampleFormat::S16BE)) /
               32768.0f;
    case AudioSampleFormat::S32LE:
    case AudioSampleFormat::S32BE:
        return static_cast<float>(static_cast<double>(readAs<std::int32_t>(
                                      p, format.sampleFormat == AudioSampleFormat::S32BE)) /
                                  2147483648.0);
    case AudioSampleFormat::Float32LE:
    case AudioSampleFormat::Float32BE: {
        float value = readAs<float>(p, format.sampleFormat == AudioSampleFormat::Float32BE);
        // NaN and infinities from a misbehaving source would poison the recogniser's features.
        if (!(value >= -1.0f))
            return value != value ? 0.0f : -1.0f;
        return value > 1.0f ? 1.0f : value;
    }
    case AudioSampleFormat::Unknown:
        break;
    }
    return 0.0f;
}

} // namespace aurelo
