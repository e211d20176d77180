#include "captions/SpeechRecognitionRequest.hpp"

#include <algorithm>
#include <cmath>

namespace aurelo {

std::vector<std::int16_t> SpeechRecognitionRequest::recognizerSamples(const PcmBuffer& buffer) {
    const std::uint32_t frames = std::min(buffer.frameLength, buffer.frameCapacity);
    const std::uint32_t channels = buffer.format.channelCount;
    if (frames == 0 || channels == 0 || buffer.format.sampleRate == 0)
        return {};

    std::vector<float> mono(frames);
    for (std::uint32_t f = 0; f < frames; ++f) {
        float sum = 0.0f;
        for (std::uint32_t c = 0; c < channels; ++c)
            sum += buffer.sampleAt(f, c);
        mono[f] = sum / static_cast<float>(channels);
    }

    const double step = static_cast<double>(buffer.format.sampleRate) / kSampleRate;
    const auto outputLength = static_cast<std::size_t>(std::floor(frames / step));
    std::vector<std::int16_t> output;
    output.reserve(outputLength);
    for (std::size_t i = 0; i < outputLength; ++i) {
        const double position = static_cast<double>(i) * step;
        const auto index = static_cast<std::size_t>(position);
        const double fraction = position - static_cast<double>(index);
        const float a = mono[index];
        const float b = index + 1 < frames ? mono[index + 1] : a;
        const double value = (a + (b - a) * fraction) * 32767.0;
        output.push_back(
            static_cast<std::int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0))));
    }
    return output;
}

void SpeechRecognitionRequest::append(const PcmBuffer& buffer) {
    auto samples = recognizerSamples(buffer);
    if (samples.empty())
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_ended || m_interrupted)
            return;
        if (m_queuedSamples + samples.size() > kMaximumQueuedSamples) {
            m_droppedSamples += samples.size();
            return;
        }
        m_queuedSamples += samples.size();
        m_chunks.push_back(std::move(samples));
    }
    m_changed.notify_all();
}

void SpeechRecognitionRequest::endAudio() {
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
}

bool SpeechRecognitionRequest::audioHasEnded() const {
    std::lock_guard lock(m_mutex);
    return m_ended;
}

void SpeechRecognitionRequest::interrupt() {
    {
        std::lock_guard lock(m_mutex);
        m_interrupted = true;
    }
    m_changed.notify_all();
}

std::size_t SpeechRecognitionRequest::droppedSamples() const {
    std::lock_guard lock(m_mutex);
    return m_droppedSamples;
}

std::optional<std::vector<std::int16_t>> SpeechRecognitionRequest::takeAudio() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_interrupted || m_ended || !m_chunks.empty(); });
    if (m_interrupted || m_chunks.empty())
        return std::nullopt;
    std::vector<std::int16_t> audio;
    audio.reserve(m_queuedSamples);
    for (auto& chunk : m_chunks)
        audio.insert(audio.end(), chunk.begin(), chunk.end());
    m_chunks.clear();
    m_queuedSamples = 0;
    return audio;
}

} // namespace aurelo
