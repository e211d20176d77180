// Caption runs driven through stand-ins for the sound server and the recogniser.

#include "captions/LiveCaptionManager.hpp"
#include "CaptionFakes.hpp"
#include "captions/PulseAudioCaptureStream.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "support/ScopedEnv.hpp"
#include "support/TestDirectory.hpp"
#include "translation/TranslationNetwork.hpp"

#include <gtest/gtest.h>

#include <glib.h>

#include <chrono>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;
using Kind = SpeechRecognitionEvent::Kind;

class LiveCaptionManagerTest : public ::testing::Test {
protected:
    FakeManagedService fake;
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), session, cache};
    std::shared_ptr<FakeCaptureLog> capture = std::make_shared<FakeCaptureLog>();
    std::shared_ptr<FakeRecognitionLog> recognition = std::make_shared<FakeRecognitionLog>();
    TranslationConfiguration configuration{TranslationProvider::DeepL, "token-1", "", ""};
    int configurationReads = 0;

    void SetUp() override {
        fake.setResponder([](const RecordedRequest& r) { return echoTranslation(r); });
    }

    // By default a running sentence is never refreshed on a timer, so what is sent is exactly
    // what the test provokes.
    std::unique_ptr<LiveCaptionManager>
    makeManager(std::chrono::milliseconds interval = 24h, bool withRecognizer = true,
                std::chrono::milliseconds connectionTimeout = 24h) {
        LiveCaptionManager::Dependencies dependencies;
        dependencies.makeStream = [log = capture] {
            return std::make_unique<FakeCaptureStream>(log);
        };
        if (withRecognizer)
            dependencies.recognizer = std::make_shared<FakeRecognizer>(recognition);
        dependencies.translationInterval = interval;
        dependencies.connectionTimeout = connectionTimeout;
        return std::make_unique<LiveCaptionManager>(
            service,
            [this] {
                ++configurationReads;
                return configuration;
            },
            std::move(dependencies));
    }

    void recognize(Kind kind, const std::string& text) {
        ASSERT_TRUE(recognition->handler);
        recognition->handler(SpeechRecognitionEvent{kind, text});
    }
    void captureEvent(AudioCaptureEvent::Kind kind, std::size_t streams = 0) {
        ASSERT_TRUE(capture->handler);
        capture->handler(AudioCaptureEvent{kind, streams});
    }
};

TEST_F(LiveCaptionManagerTest, ARunFromStartToStop) {
    auto manager = makeManager();
    EXPECT_EQ(manager->statusText(), "点击“实时字幕”捕获应用声音");
    int runningSignals = 0;
    int statusSignals = 0;
    manager->signalIsRunningChanged().connect([&] { ++runningSignals; });
    manager->signalStatusTextChanged().connect([&] { ++statusSignals; });
    manager->stop();
    manager->stop();
    EXPECT_EQ(manager->statusText(), "实时字幕已停止");
    EXPECT_EQ(runningSignals, 0);
    EXPECT_EQ(statusSignals, 1);

    manager->start();
    EXPECT_TRUE(manager->isRunning());
    EXPECT_EQ(runningSignals, 1);
    EXPECT_EQ(manager->statusText(), LiveCaptionManager::kConnectingStatus);
    EXPECT_EQ(capture->stops, 0) << "a stop without a run never touches the sound server";
    EXPECT_EQ(capture->starts, 1);
    EXPECT_EQ(recognition->tasks, 1);
    EXPECT_EQ(configurationReads, 1);
    manager->start();
    EXPECT_EQ(capture->starts, 1) << "a second start while running does nothing";

    captureEvent(AudioCaptureEvent::Kind::Connected);
    EXPECT_EQ(manager->statusText(), LiveCaptionManager::kWaitingForAudioStatus);
    captureEvent(AudioCaptureEvent::Kind::StreamCountChanged, 1);
    EXPECT_EQ(manager->statusText(), LiveCaptionManager::kListeningStatus);

    // Captured audio goes from the adapter into the recognition request.
    std::vector<std::int16_t> tenth(1600, 7);
    ASSERT_TRUE(capture->output);
    capture->output->stream(
        CapturedSampleBuffer{true, AudioStreamDescription{AudioSampleFormat::S16LE, 16000, 1},
                             tenth.data(), tenth.size() * 2},
        CaptureOutputType::Audio);
    auto audio = recognition->request->takeAudio();
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->size(), 1600u);

    recognize(Kind::Final, "hello world");
    ASSERT_TRUE(runMainLoopUntil([&] { return !manager->translatedText().empty(); }));

    auto request = recognition->request;
    manager->stop();
    EXPECT_FALSE(manager->isRunning());
    EXPECT_EQ(runningSignals, 2);
    EXPECT_EQ(manager->statusText(), "实时字幕已停止");
    EXPECT_EQ(recognition->cancels, 1);
    EXPECT_TRUE(request->audioHasEnded());
    EXPECT_EQ(capture->stops, 0) << "the stream is stopped from the main loop, after stop()";
    ASSERT_TRUE(runMainLoopUntil([&] { return capture->destroyed == 1; }));
    EXPECT_EQ(capture->stops, 1);
    EXPECT_EQ(manager->sourceText(), "hello world") << "the last captions stay readable";
    EXPECT_EQ(manager->translatedText(), "译:hello world");
}

TEST_F(LiveCaptionManagerTest, ASentenceIsTranslatedOnceWhenItEnds) {
    auto manager = makeManager();
    int sourceSignals = 0;
    manager->signalSourceTextChanged().connect([&] { ++sourceSignals; });
    manager->start();

    for (const char* words : {"please", "please call", "please call me", "please call me tomorrow"})
        recognize(Kind::Partial, words);
    EXPECT_EQ(manager->sourceText(), "please call me tomorrow");
    EXPECT_EQ(sourceSignals, 4);
    recognize(Kind::Final, "please call me tomorrow morning");
    recognize(Kind::Partial, "thank you");
    EXPECT_EQ(manager->sourceText(), "please call me tomorrow morning\nthank you");

    ASSERT_TRUE(runMainLoopUntil([&] { return !manager->translatedText().empty(); }));
    EXPECT_EQ(manager->translatedText(), "译:please call me tomorrow morning");
    ASSERT_EQ(fake.requestCount("/api/translate"), 1u) << "partial words are not sent one by one";
    EXPECT_EQ(*fake.requests()[0].json, (nlohmann::json{{"text", "please call me tomorrow morning"},
                                                        {"target", "zh-CN"},
                                                        {"provider", "deepl"}}));
    EXPECT_EQ(fake.requests()[0].header("Authorization"), "Bearer token-1");
}

TEST_F(LiveCaptionManagerTest, ALongSentenceIsRefreshedWhileItIsSpoken) {
    auto manager = makeManager(5ms);
    manager->start();
    recognize(Kind::Partial, "we will send");
    recognize(Kind::Partial, "we will send the package");
    ASSERT_TRUE(runMainLoopUntil([&] { return !manager->translatedText().empty(); }));
    EXPECT_EQ(manager->translatedText(), "译:we will send the package");
    EXPECT_EQ(fake.requestCount("/api/translate"), 1u);

    recognize(Kind::Final, "we will send the package today");
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return manager->translatedText() == "译:we will send the package today"; }));
}

TEST_F(LiveCaptionManagerTest, NothingOfAnEndedRunArrivesLate) {
    auto manager = makeManager();
    manager->start();
    auto oldRecognizer = recognition->handler;
    auto oldCapture = capture->handler;
    recognize(Kind::Final, "first sentence");
    manager->stop();
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requestCount("/api/translate") == 1; }));
    runMainLoopFor(200ms);
    EXPECT_EQ(manager->translatedText(), "") << "the answer for a stopped run is dropped";

    oldRecognizer(SpeechRecognitionEvent{Kind::Final, "late words"});
    oldCapture(AudioCaptureEvent{AudioCaptureEvent::Kind::ConnectionLost, 0});
    EXPECT_EQ(manager->sourceText(), "first sentence");
    EXPECT_EQ(manager->statusText(), "实时字幕已停止");

    // A new run starts clean, and the old run's reports still mean nothing to it.
    manager->start();
    EXPECT_EQ(manager->sourceText(), "");
    oldRecognizer(SpeechRecognitionEvent{Kind::Partial, "late words"});
    oldCapture(AudioCaptureEvent{AudioCaptureEvent::Kind::ServerUnavailable, 0});
    EXPECT_TRUE(manager->isRunning());
    EXPECT_EQ(manager->sourceText(), "");
}

TEST_F(LiveCaptionManagerTest, FailuresEndTheRunWithAStatusLine) {
    auto manager = makeManager();
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] { captureEvent(AudioCaptureEvent::Kind::ServerUnavailable); },
         LiveCaptionManager::kNoSoundServerStatus},
        {[&] { captureEvent(AudioCaptureEvent::Kind::ConnectionLost); },
         LiveCaptionManager::kSoundServerLostStatus},
        {[&] { recognize(Kind::Failed, ""); }, LiveCaptionManager::kNoRecognizerStatus},
    };
    int run = 0;
    for (const auto& [fail, status] : cases) {
        manager->start();
        fail();
        EXPECT_FALSE(manager->isRunning()) << status;
        EXPECT_EQ(manager->statusText(), status);
        EXPECT_EQ(recognition->cancels, ++run);
        ASSERT_TRUE(runMainLoopUntil([&] { return capture->stops == run; })) << status;
    }

    // A server that never answers ends the run as if there were none.
    auto silentServer = makeManager(24h, true, 1ms);
    silentServer->start();
    ASSERT_TRUE(runMainLoopUntil([&] { return !silentServer->isRunning(); }));
    EXPECT_EQ(silentServer->statusText(), LiveCaptionManager::kNoSoundServerStatus);

    auto withoutModel = makeManager(24h, false);
    withoutModel->start();
    EXPECT_FALSE(withoutModel->isRunning());
    EXPECT_EQ(withoutModel->statusText(), LiveCaptionManager::kNoRecognizerStatus);
}

TEST_F(LiveCaptionManagerTest, ATranslationFailureIsShownAndTheRunGoesOn) {
    fake.enqueue("/api/translate", ScriptedAnswer::json(500, {{"error", "引擎暂时不可用"}}));
    auto manager = makeManager();
    manager->start();
    captureEvent(AudioCaptureEvent::Kind::StreamCountChanged, 1);
    recognize(Kind::Final, "good morning");
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return manager->statusText() != LiveCaptionManager::kListeningStatus; }));
    EXPECT_EQ(manager->statusText().rfind("字幕翻译失败：", 0), 0u) << manager->statusText();
    EXPECT_TRUE(manager->isRunning());

    recognize(Kind::Final, "good night");
    ASSERT_TRUE(runMainLoopUntil([&] { return !manager->translatedText().empty(); }));
    EXPECT_EQ(manager->translatedText(), "译:good night");
    EXPECT_EQ(manager->statusText(), LiveCaptionManager::kListeningStatus);
}

TEST_F(LiveCaptionManagerTest, ClearingEmptiesBothTextsWhileTheRunContinues) {
    auto manager = makeManager();
    manager->start();
    recognize(Kind::Final, "one");
    ASSERT_TRUE(runMainLoopUntil([&] { return !manager->translatedText().empty(); }));
    recognize(Kind::Final, "two");
    manager->clearTexts();
    EXPECT_EQ(manager->sourceText(), "");
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requestCount("/api/translate") == 2; }));
    runMainLoopFor(100ms);
    EXPECT_EQ(manager->translatedText(), "")
        << "an answer for a cleared line does not bring it back";
    recognize(Kind::Partial, "three");
    EXPECT_EQ(manager->sourceText(), "three");
    EXPECT_TRUE(manager->isRunning());
}

TEST_F(LiveCaptionManagerTest, DestroyingARunningManagerReleasesItsRun) {
    auto manager = makeManager(1ms);
    manager->start();
    recognize(Kind::Partial, "still talking");
    recognize(Kind::Final, "done");
    manager.reset();
    EXPECT_EQ(capture->destroyed, 1);
    EXPECT_EQ(recognition->cancels, 1);
    // The pending translation and the refresh timer must not reach the freed manager.
    ASSERT_TRUE(runMainLoopUntil([&] { return fake.requestCount("/api/translate") >= 1; }));
    runMainLoopFor(50ms);
}

// The real sound-server client against a server that is not there: a clear status, no crash.
TEST_F(LiveCaptionManagerTest, NoSoundServer) {
    TestDirectory directory;
    const ScopedEnv nowhere({{"PULSE_SERVER", "unix:" + (directory.path() / "native").string()}});
    LiveCaptionManager::Dependencies dependencies;
    dependencies.makeStream = [] { return std::make_unique<PulseAudioCaptureStream>(); };
    dependencies.recognizer = std::make_shared<FakeRecognizer>(recognition);
    LiveCaptionManager manager(
        service, [this] { return configuration; }, std::move(dependencies));
    manager.start();
    EXPECT_TRUE(runMainLoopUntil([&] { return !manager.isRunning(); }));
    EXPECT_EQ(manager.statusText(), LiveCaptionManager::kNoSoundServerStatus);
    runMainLoopFor(20ms);
}

} // namespace
} // namespace aurelo::test
