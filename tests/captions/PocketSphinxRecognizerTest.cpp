// The recogniser's model handling, cancellation and hypotheses.

#include "captions/PocketSphinxRecognizer.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

namespace aurelo {
namespace {

using namespace std::chrono_literals;
using test::runMainLoopFor;
using test::runMainLoopUntil;

using Kind = SpeechRecognitionEvent::Kind;

TEST(PocketSphinxRecognizer, AMissingModelIsReportedAsAFailure) {
    PocketSphinxRecognizer recognizer("/nonexistent/pocketsphinx-model");
    std::vector<SpeechRecognitionEvent> events;
    auto task =
        recognizer.recognitionTask(std::make_shared<SpeechRecognitionRequest>(),
                                   [&](const SpeechRecognitionEvent& e) { events.push_back(e); });
    ASSERT_TRUE(runMainLoopUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, (std::vector<SpeechRecognitionEvent>{{Kind::Failed, ""}}));
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
