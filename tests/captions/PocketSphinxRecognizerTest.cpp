// The recogniser's thread and model handling: a missing model, a run over silence, and a task
// cancelled while its model is still loading.

#include "captions/PocketSphinxRecognizer.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace aurelo {
namespace {

using namespace std::chrono_literals;
using test::runMainLoopFor;
using test::runMainLoopUntil;

using Kind = SpeechRecognitionEvent::Kind;

PcmBuffer silence(std::uint32_t frames) {
    PcmBuffer pcm(AudioFormat{AudioSampleFormat::S16LE, 16000, 1}, frames);
    pcm.frameLength = frames;
    return pcm;
}

TEST(PocketSphinxRecognizer, AMissingModelIsReportedAsAFailure) {
    PocketSphinxRecognizer recognizer("/nonexistent/pocketsphinx-model");
    std::vector<SpeechRecognitionEvent> events;
    auto task = recognizer.recognitionTask(std::make_shared<SpeechRecognitionRequest>(),
                                           [&](const SpeechRecognitionEvent& e) { events.push_back(e); });
    ASSERT_TRUE(runMainLoopUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, (std::vector<SpeechRecognitionEvent>{{Kind::Failed, ""}}));
}

TEST(PocketSphinxRecognizer, ListensToSilenceAndHearsNothing) {
    if (!std::filesystem::exists(PocketSphinxRecognizer::kDefaultModelDirectory))
        GTEST_SKIP() << "pocketsphinx-en-us is not installed";
    auto recognizer = PocketSphinxRecognizer::forLocale("en-US");
    auto request = std::make_shared<SpeechRecognitionRequest>();
    std::vector<SpeechRecognitionEvent> events;
    auto task = recognizer->recognitionTask(request, [&](const SpeechRecognitionEvent& e) { events.push_back(e); });
    for (int i = 0; i < 10; ++i)
        request->append(silence(1600));
    request->endAudio();
    ASSERT_TRUE(runMainLoopUntil([&] { return !events.empty(); }, 60s));
    EXPECT_EQ(events.front().kind, Kind::Ready);
    // Destroying the recogniser waits for its thread, which has by then read the whole request.
    task.reset();
    recognizer.reset();
    runMainLoopFor(20ms);
    for (const auto& event : events)
        EXPECT_TRUE(event.kind == Kind::Ready) << "silence produced: " << event.text;
}

TEST(PocketSphinxRecognizer, ACancelledTaskNeverReports) {
    auto recognizer = PocketSphinxRecognizer::forLocale("en-US");
    int reports = 0;
    auto task = recognizer->recognitionTask(std::make_shared<SpeechRecognitionRequest>(),
                                            [&](const SpeechRecognitionEvent&) { ++reports; });
    task.reset(); // at once: the thread is most likely still loading the model
    recognizer.reset();
    runMainLoopFor(50ms);
    EXPECT_EQ(reports, 0);
}

TEST(PocketSphinxRecognizer, HypothesesKeepOnlyWords) {
    EXPECT_EQ(PocketSphinxRecognizer::cleanHypothesis(nullptr), "");
    EXPECT_EQ(PocketSphinxRecognizer::cleanHypothesis(""), "");
    EXPECT_EQ(PocketSphinxRecognizer::cleanHypothesis("<s> hello [NOISE] the(2)  world <sil> </s>"),
              "hello the world");
    EXPECT_EQ(PocketSphinxRecognizer::cleanHypothesis("++breath++ (2)"), "");
    EXPECT_EQ(PocketSphinxRecognizer::forLocale("en-GB"), nullptr);
    EXPECT_NE(PocketSphinxRecognizer::forLocale("en-US"), nullptr);
}

} // namespace
} // namespace aurelo
