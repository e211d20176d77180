#include "captions/ApplicationAudioOutput.hpp"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace aurelo {

ApplicationAudioOutput::ApplicationAudioOutput(Receive receive) : m_receive(std::move(receive)) {
    if (!m_receive)
        throw std::invalid_argument("ApplicationAudioOutput needs a receive callback");
}

void ApplicationAudioOutput::stream(const CapturedSampleBuffer& buffer,
                                    CaptureOutputType type) const {
    if (auto pcm = convert(buffer, type))
        m_receive(std::move(*pcm));
}

std::optional<PcmBuffer> ApplicationAudioOutput::convert(const CapturedSampleBuffer& buffer,
                                                         CaptureOutputType type) {
    if (type != CaptureOutputType::Audio || !buffer.isValid || !buffer.dataIsReady() ||
        !buffer.formatDescription)
        return std::nullopt;

    auto format = AudioFormat::make(*buffer.formatDescription);
    if (!format)
        return std::nullopt;

    const std::size_t frameSize = format->bytesPerFrame();
    const std::size_t frames = buffer.byteCount / frameSize;
    if (frames == 0 || frames > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    // A buffer that ends inside a frame cannot be copied frame by frame: the server and we
    // disagree about its layout, so none of it is trusted.
    if (buffer.byteCount % frameSize != 0)
        return std::nullopt;

    const auto n = static_cast<std::uint32_t>(frames);
    PcmBuffer pcm(*format, n);
    pcm.frameLength = n;
    std::memcpy(pcm.bytes.data(), buffer.data, frames * frameSize);
    return pcm;
}

} // namespace aurelo
