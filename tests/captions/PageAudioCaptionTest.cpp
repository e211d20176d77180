// Captions of the audio that a hosted page plays. The page runs in the application's real host
// (ChatWebView) under WebKit's own sandbox; its web process plays a voice message through
// GStreamer into a sound server that the test starts, while a caption run captures it. This is
// the path a customer's voice message takes, and the one where "our own playback" is hardest to
// tell apart: the playing process sits below a sandbox launcher, in a process namespace of its
// own, and reports a process id that means nothing outside it. A program that is not ours plays
// first and must not be heard.

#include "PrivateSoundServer.hpp"
#include "captions/LiveCaptionManager.hpp"
#include "captions/OwnPlaybackStreamRule.hpp"
#include "support/Programs.hpp"
#include "support/WebViewTestSupport.hpp"

#include <gtkmm/window.h>

#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

// The properties of every playback stream of the server, from `pactl list sink-inputs`.
using StreamProperties = std::map<std::string, std::string>;
std::vector<StreamProperties> playbackStreams(const std::string& server) {
    std::vector<StreamProperties> streams;
    auto listing = runProgram({"pactl", "--server=" + server, "list", "sink-inputs"});
    std::istringstream lines(listing.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with("Sink Input #")) {
            streams.emplace_back();
            continue;
        }
        // Property lines read `\t\tkey = "value"`.
        const auto equals = line.find(" = \"");
        if (streams.empty() || !line.starts_with("\t\t") || equals == std::string::npos ||
            !line.ends_with('"'))
            continue;
        const auto key = line.substr(2, equals - 2);
        const auto value = line.substr(equals + 4, line.size() - equals - 5);
        streams.back()[key] = value;
    }
    return streams;
}

bool processIsGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line))
        return true;
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

std::string describe(const std::vector<StreamProperties>& streams) {
    std::string text;
    for (const auto& stream : streams) {
        text += "stream:\n";
        for (const auto& [key, value] : stream)
            text += "  " + key + " = " + value + "\n";
    }
    return text.empty() ? "no playback streams" : text;
}

class PageAudioCaptionTest : public WebViewTest {
protected:
    static void SetUpTestSuite() {
        // As main() does: before any thread starts, so that the web processes inherit it.
        OwnPlaybackStreamRule::tagChildProcesses();
        WebViewTest::SetUpTestSuite();
    }

    void SetUp() override {
        if (auto missing = PrivateSoundServer::missingProgram())
            GTEST_SKIP() << *missing << " is not installed (scripts/deps installs it)";
        // Started before the first page exists: the web processes take their environment, and
        // so their sound server, from us when WebKit starts them.
        ASSERT_TRUE(sound.start()) << sound.failure();
        fake.setResponder([](const RecordedRequest& r) { return echoTranslation(r); });
    }

    void TearDown() override {
        window.reset();
        WebViewTest::TearDown();
    }

    PrivateSoundServer sound;
    std::unique_ptr<Gtk::Window> window;
};

TEST_F(PageAudioCaptionTest, CaptionsTheVoiceMessageThatAHostedPagePlays) {
    // The sentence twice with a pause: the recogniser's normalisation settles on the voice
    // during the first one, as it would a few words into any real conversation.
    const std::string wav =
        sound.speak("voice", "<speak>Please call me tomorrow morning. <break time=\"1500ms\"/> "
                             "Please call me tomorrow morning.</speak>");
    server.route("/voice.wav", ScriptedAnswer::text(200, readFile(wav), "audio/wav"));
    server.route("/voice.html",
                 ScriptedAnswer::text(
                     200,
                     "<!doctype html><html><body><p>Voice message</p>"
                     "<audio id=\"voice\" src=\"/voice.wav\" preload=\"auto\" controls></audio>"
                     "</body></html>",
                     "text/html; charset=utf-8"));

    LiveCaptionManager manager(service, [] {
        return TranslationConfiguration{TranslationProvider::Google, "token-1", "", ""};
    });
    std::vector<std::string> statuses;
    manager.signalStatusTextChanged().connect([&] { statuses.push_back(manager.statusText()); });
    manager.start();
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return manager.statusText() == LiveCaptionManager::kWaitingForAudioStatus; }, 30s))
        << manager.statusText();

    // The shell that starts the foreign player has exited before it plays, so it hangs below
    // init, as any other program on the desktop does.
    const auto foreign =
        sound.speak("foreign", "<speak>One two three four five six seven.</speak>");
    const std::string gate = sound.directory() + "/go";
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

    auto& host = open(inputs(kSessionA, "/voice.html"));
    window = std::make_unique<Gtk::Window>();
    window->set_default_size(800, 600);
    window->set_child(host);
    window->present();
    ASSERT_TRUE(waitForLoad(host, 1, 60s)) << loads(host).lastFailure;
    ASSERT_TRUE(waitForValue(host, "document.getElementById('voice').readyState >= 3", "true",
                             nullptr, 60s));

    // Script that the application evaluates counts as a user gesture, as a click on the
    // message's play button would; autoplay with sound is not allowed without one.
    evaluate(host,
             "window.playFailure = null;"
             "document.getElementById('voice').play().catch(e => window.playFailure = e.name);"
             "true",
             nullptr);
    ASSERT_TRUE(waitForValue(host,
                             "window.playFailure || (document.getElementById('voice')"
                             ".currentTime > 0.3)",
                             "true", nullptr, 60s))
        << "the page did not play: " << evaluate(host, "window.playFailure", nullptr).value_or("?");

    // What the sound server knows about the page's stream while it plays. GStreamer's sink
    // opens a short-lived "pulsesink probe" stream while it negotiates; that one is not it.
    std::vector<StreamProperties> streams;
    runMainLoopUntil(
        [&] {
            streams = playbackStreams(sound.address());
            std::erase_if(streams, [](const StreamProperties& s) {
                return s.count("media.name") && s.at("media.name") == "pulsesink probe";
            });
            return !streams.empty();
        },
        20s);
    ASSERT_EQ(streams.size(), 1u) << describe(streams);
    auto property = [&](const std::string& key) {
        auto found = streams.front().find(key);
        return found == streams.front().end() ? std::string("<none>") : found->second;
    };
    std::cout << "The page's playback stream:\n" << describe(streams);
    EXPECT_EQ(property("application.process.binary"), "WebKitWebProcess")
        << "WebKit no longer plays pages' audio from its web process";
    EXPECT_EQ(property(OwnPlaybackStreamRule::kOwnerProperty), std::to_string(getpid()))
        << "the owner tag did not reach the web process";

    const bool heard = runMainLoopUntil(
        [&] {
            const auto& text = manager.sourceText();
            return text.find("tomorrow") != std::string::npos &&
                   text.find("morning") != std::string::npos &&
                   manager.translatedText().find("tomorrow") != std::string::npos;
        },
        90s);
    EXPECT_TRUE(heard) << "recognised: \"" << manager.sourceText() << "\", translated: \""
                       << manager.translatedText() << "\", status: " << manager.statusText() << "\n"
                       << describe(streams);
    ASSERT_FALSE(fake.requests().empty());
    EXPECT_EQ(fake.requests().back().json->value("target", ""), "zh-CN");
    EXPECT_NE(std::ranges::find(statuses, LiveCaptionManager::kListeningStatus), statuses.end());

    manager.stop();
    EXPECT_EQ(manager.statusText(), LiveCaptionManager::kStoppedStatus);
    runMainLoopFor(50ms); // the posted stop of the capture stream
}

} // namespace
} // namespace aurelo::test
