// One real caption run: our own sound server with a null sink, speech synthesised by espeak-ng
// and played by a child process (so it is this application's audio), captured, recognised by
// PocketSphinx and translated through the fake managed service. A stream of a process that is
// not ours plays first and must not be heard.

#include "PrivateSoundServer.hpp"
#include "captions/LiveCaptionManager.hpp"
#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "support/Programs.hpp"
#include "translation/TranslationNetwork.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

bool processIsGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line))
        return true;
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

class LiveCaptionRealRunTest : public ::testing::Test {
protected:
    PrivateSoundServer server;

    void SetUp() override {
        if (auto missing = PrivateSoundServer::missingProgram())
            GTEST_SKIP() << *missing << " is not installed (scripts/deps installs it)";
        ASSERT_TRUE(server.start()) << server.failure();
    }
};

TEST_F(LiveCaptionRealRunTest, RecognisesOurOwnPlaybackAndNothingElse) {
    FakeManagedService fake;
    fake.setResponder([](const RecordedRequest& r) { return echoTranslation(r); });
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), session, cache};

    const auto foreign =
        server.speak("foreign", "<speak>One two three four five six seven.</speak>");
    // The sentence twice, a pause between: the recogniser's normalisation settles on the voice
    // during the first sentence, as it would a few words into any real conversation.
    const auto own =
        server.speak("own", "<speak>Please call me tomorrow morning. <break time=\"1500ms\"/> "
                            "Please call me tomorrow morning.</speak>");

    LiveCaptionManager manager(service, [] {
        return TranslationConfiguration{TranslationProvider::Google, "token-1", "", ""};
    });
    std::vector<std::string> statuses;
    manager.signalStatusTextChanged().connect([&] { statuses.push_back(manager.statusText()); });
    manager.start();
    ASSERT_TRUE(manager.isRunning());
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return manager.statusText() == LiveCaptionManager::kWaitingForAudioStatus; }, 30s))
        << manager.statusText();

    // A process that is not ours: the shell that starts it has exited before it plays, so it
    // hangs below init, as any other program on the desktop does.
    const std::string gate = server.directory() + "/go";
    const auto started = runProgram(
        {"sh", "-c",
         "(while [ ! -e '" + gate + "' ]; do sleep 0.05; done; exec paplay --latency-msec=200 '" +
             foreign + "') >/dev/null 2>&1 </dev/null & echo $!"});
    ASSERT_TRUE(started.succeeded) << started.errors;
    const pid_t foreignPlayer = static_cast<pid_t>(std::stol(started.output));
    std::ofstream(gate).put('1');
    ASSERT_TRUE(runMainLoopUntil([&] { return processIsGone(foreignPlayer); }, 60s));
    EXPECT_EQ(manager.sourceText(), "") << "another program's audio was captured";
    EXPECT_EQ(manager.statusText(), LiveCaptionManager::kWaitingForAudioStatus);

    // Our own playback: a child of this process, as the web processes are children of the app.
    // A player's buffer is rendered before any monitor can attach to its new stream, so it is
    // kept as short as a web page's media player keeps it; paplay's default of two seconds
    // would swallow the first sentence.
    std::vector<std::string> arguments{"paplay", "--latency-msec=200", own};
    std::vector<char*> argv{arguments[0].data(), arguments[1].data(), arguments[2].data(), nullptr};
    GPid player = 0;
    ASSERT_TRUE(
        g_spawn_async(nullptr, argv.data(), nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                      nullptr, nullptr, &player, nullptr));
    bool playerExited = false;
    g_child_watch_add(
        player,
        [](GPid pid, gint, gpointer flag) {
            g_spawn_close_pid(pid);
            *static_cast<bool*>(flag) = true;
        },
        &playerExited);

    const bool heard = runMainLoopUntil(
        [&] {
            const auto& text = manager.sourceText();
            return text.find("tomorrow") != std::string::npos &&
                   text.find("morning") != std::string::npos &&
                   manager.translatedText().find("tomorrow") != std::string::npos;
        },
        90s);
    EXPECT_TRUE(heard) << "recognised: \"" << manager.sourceText() << "\", translated: \""
                       << manager.translatedText() << "\", status: " << manager.statusText();
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), LiveCaptionManager::kListeningStatus),
              statuses.end());
    EXPECT_EQ(manager.translatedText().rfind("译:", 0), 0u);
    ASSERT_FALSE(fake.requests().empty());
    EXPECT_EQ(fake.requests().back().json->value("target", ""), "zh-CN");

    manager.stop();
    EXPECT_FALSE(manager.isRunning());
    EXPECT_EQ(manager.statusText(), "实时字幕已停止");
    if (!playerExited)
        kill(player, SIGTERM);
    ASSERT_TRUE(runMainLoopUntil([&] { return playerExited; }, 30s));
    runMainLoopFor(50ms); // the posted stop of the capture stream
}

} // namespace
} // namespace aurelo::test
