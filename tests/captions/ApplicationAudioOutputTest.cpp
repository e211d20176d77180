// The audio adapter's drop rules and the conversion to the recogniser's samples.

#include "captions/ApplicationAudioOutput.hpp"
#include "captions/SpeechRecognitionRequest.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace aurelo {
namespace {

constexpr AudioStreamDescription kMono16k{AudioSampleFormat::S16LE, 16000, 1};

class ApplicationAudioOutputTest : public ::testing::Test {
protected:
    std::array<std::int16_t, 8> samples{1, -2, 3, -4, 5, -6, 7, -8};
    std::vector<PcmBuffer> received;
    ApplicationAudioOutput output{
        [this](PcmBuffer buffer) { received.push_back(std::move(buffer)); }};
};

TEST_F(ApplicationAudioOutputTest, OnlyUsableAudioReachesTheCallback) {
    constexpr auto kAudio = CaptureOutputType::Audio;
    constexpr auto kS16 = AudioSampleFormat::S16LE;
    const void* data = samples.data();
    // The size check comes before any copy, so the small backing array is never over-read.
    const std::size_t tooManyFrames =
        (std::size_t{std::numeric_limits<std::uint32_t>::max()} + 1) * 2;
    const std::tuple<const char*, CaptureOutputType, CapturedSampleBuffer> dropped[] = {
        {"screen output", CaptureOutputType::Screen, {true, kMono16k, data, 16}},
        {"microphone output", CaptureOutputType::Microphone, {true, kMono16k, data, 16}},
        {"invalid buffer", kAudio, {false, kMono16k, data, 16}},
        {"data not ready (a gap)", kAudio, {true, kMono16k, nullptr, 16}},
        {"no format description", kAudio, {true, std::nullopt, data, 16}},
        {"unknown encoding", kAudio, {true, {{AudioSampleFormat::Unknown, 16000, 1}}, data, 16}},
        {"zero channels", kAudio, {true, {{kS16, 16000, 0}}, data, 16}},
        {"absurd channel count", kAudio, {true, {{kS16, 16000, 1000}}, data, 16}},
        {"zero sample rate", kAudio, {true, {{kS16, 0, 1}}, data, 16}},
        {"zero samples", kAudio, {true, kMono16k, data, 0}},
        {"less than one frame", kAudio, {true, {{kS16, 16000, 2}}, data, 2}},
        {"ends inside a frame", kAudio, {true, kMono16k, data, 7}},
        {"more frames than 32 bits count", kAudio, {true, kMono16k, data, tooManyFrames}},
    };
    for (const auto& [name, type, buffer] : dropped) {
        output.stream(buffer, type);
        EXPECT_TRUE(received.empty()) << name;
        received.clear();
    }
    output.stream({true, kMono16k, data, 16}, kAudio);
    ASSERT_EQ(received.size(), 1u);
}

TEST_F(ApplicationAudioOutputTest, KeptAudioIsAnOwnedCopyOfEveryFrame) {
    output.stream({true, {{AudioSampleFormat::S16LE, 44100, 2}}, samples.data(), sizeof samples},
                  CaptureOutputType::Audio);
    ASSERT_EQ(received.size(), 1u);
    const auto& pcm = received[0];
    EXPECT_EQ(pcm.format, (AudioFormat{AudioSampleFormat::S16LE, 44100, 2}));
    EXPECT_EQ(pcm.frameLength, 4u);
    EXPECT_EQ(pcm.frameCapacity, 4u);

    samples.fill(0); // the captured memory is the server's and is reused at once
    EXPECT_FLOAT_EQ(pcm.sampleAt(0, 0), 1.0f / 32768.0f);
    EXPECT_FLOAT_EQ(pcm.sampleAt(3, 1), -8.0f / 32768.0f);
    EXPECT_EQ(pcm.sampleAt(4, 0), 0.0f) << "reading past the frames yields silence";
}

// A conversion that fails throws, which fails the test.
PcmBuffer pcmOf(AudioStreamDescription format, const void* data, std::size_t bytes) {
    return ApplicationAudioOutput::convert({true, format, data, bytes}, CaptureOutputType::Audio)
        .value();
}

TEST(RecognizerSamples, DownMixesAndResamplesTo16kMono) {
    // 10 ms of 48 kHz stereo float: the channels cancel for the first half and agree after.
    std::vector<float> frames;
    for (int i = 0; i < 480; ++i) {
        frames.push_back(0.5f);
        frames.push_back(i < 240 ? -0.5f : 0.5f);
    }
    auto pcm = pcmOf({AudioSampleFormat::Float32LE, 48000, 2}, frames.data(),
                     frames.size() * sizeof(float));
    auto mono = SpeechRecognitionRequest::recognizerSamples(pcm);
    ASSERT_EQ(mono.size(), 160u);
    EXPECT_EQ(mono[10], 0);
    EXPECT_NEAR(mono[150], 16384, 2);
}

TEST(RecognizerSamples, ReadsEveryEncodingAndTamesBrokenFloats) {
    const std::array<std::uint8_t, 4> big16{0x40, 0x00, 0xC0, 0x00}; // +0.5, -0.5 big-endian
    auto pcm = pcmOf({AudioSampleFormat::S16BE, 16000, 1}, big16.data(), big16.size());
    EXPECT_EQ(SpeechRecognitionRequest::recognizerSamples(pcm),
              (std::vector<std::int16_t>{16384, -16384}));

    const std::array<std::uint8_t, 2> unsigned8{0xC0, 0x40};
    pcm = pcmOf({AudioSampleFormat::U8, 16000, 1}, unsigned8.data(), unsigned8.size());
    EXPECT_EQ(SpeechRecognitionRequest::recognizerSamples(pcm),
              (std::vector<std::int16_t>{16384, -16384}));

    const std::array<float, 4> wild{std::nanf(""), std::numeric_limits<float>::infinity(), -7.0f,
                                    0.25f};
    pcm = pcmOf({AudioSampleFormat::Float32LE, 16000, 1}, wild.data(), sizeof wild);
    EXPECT_EQ(SpeechRecognitionRequest::recognizerSamples(pcm),
              (std::vector<std::int16_t>{0, 32767, -32767, 8192}));
}

TEST(SpeechRecognitionRequestQueue, BoundedUntilTheEndOrAnInterrupt) {
    std::vector<std::int16_t> second(16000, 1);
    auto pcm = pcmOf({AudioSampleFormat::S16LE, 16000, 1}, second.data(), second.size() * 2);

    SpeechRecognitionRequest ended;
    for (int i = 0; i < 35; ++i)
        ended.append(pcm);
    EXPECT_EQ(ended.droppedSamples(), 5u * 16000u);
    ended.endAudio();
    ended.append(pcm);
    auto audio = ended.takeAudio();
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->size(), 30u * 16000u) << "what was queued before the end is still read";
    EXPECT_FALSE(ended.takeAudio()) << "nothing is accepted after the end";

    SpeechRecognitionRequest interrupted;
    interrupted.append(pcm);
    interrupted.interrupt();
    EXPECT_FALSE(interrupted.takeAudio()) << "an interrupted request gives nothing, even if queued";
}

} // namespace
} // namespace aurelo
