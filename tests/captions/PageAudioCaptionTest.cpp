// Captions of a voice message that a hosted page plays, end to end: the application's real host
// under WebKit's sandbox, whose web process plays through GStreamer into a sound server of the
// test's own while a caption run captures it. That process reports an id from a process
// namespace of its own, so only the owner tag marks its stream as ours; a program that is not
// ours plays first and must not be heard.

#include "captions/LiveCaptionManager.hpp"
#include "captions/OwnPlaybackStreamRule.hpp"
#include "support/Programs.hpp"
#include "support/WebViewTestSupport.hpp"

#include <gtkmm/window.h>

#include <unistd.h>

#include <fstream>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// A PulseAudio daemon of the test's own with one null sink, keeping everything in a temporary
// folder: real playback and capture without a sound card or the machine's sound server.
class PrivateSoundServer {
public:
    ~PrivateSoundServer() {
        if (m_daemon) {
            g_subprocess_force_exit(m_daemon.get());
            g_subprocess_wait(m_daemon.get(), nullptr, nullptr);
        }
        g_unsetenv("PULSE_SERVER");
    }

    // Starts the daemon and points this process, and the processes it starts from now on, at
    // it. Returns why it failed, if it did.
    std::optional<std::string> start() {
        auto launcher = adoptGRef(g_subprocess_launcher_new(static_cast<GSubprocessFlags>(
            G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE)));
        g_subprocess_launcher_unsetenv(launcher.get(), "PULSE_SERVER");
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "PULSE_RUNTIME_PATH",
                                 "PULSE_STATE_PATH"})
            g_subprocess_launcher_setenv(launcher.get(), name, directory().c_str(), TRUE);
        // As root, per-user mode only warns. The sink exists before the socket accepts anyone.
        const std::string log = "--log-target=file:" + directory() + "/daemon.log";
        const std::string socket =
            "--load=module-native-protocol-unix auth-anonymous=1 socket=" + directory() + "/native";
        GErrorHolder error;
        m_daemon = adoptGRef(g_subprocess_launcher_spawn(
            launcher.get(), error.out(), "pulseaudio", "-n", "--daemonize=no", "--system=false",
            "--exit-idle-time=-1", "--use-pid-file=no", "--realtime=no", "--high-priority=no",
            log.c_str(), "--load=module-null-sink sink_name=aurelo_test_sink", socket.c_str(),
            nullptr));
        if (!m_daemon)
            return std::string("cannot start pulseaudio: ") + error->message;
        if (!runMainLoopUntil([&] { return pactl({"info"}).succeeded; }, 20s))
            return "pulseaudio did not answer; its log:\n" + readFile(directory() + "/daemon.log");
        g_setenv("PULSE_SERVER", address().c_str(), TRUE);
        return std::nullopt;
    }

    // Synthesises `ssml` (en-US, a slow voice) into <directory>/<name>.wav and returns its path.
    std::string speak(const std::string& name, const std::string& ssml) const {
        const std::string file = directory() + "/" + name + ".wav";
        auto run = runProgram({"espeak-ng", "-m", "-v", "en-us", "-s", "130", "-w", file, ssml});
        if (!run.succeeded)
            throw std::runtime_error("espeak-ng failed: " + run.errors);
        return file;
    }

    ProgramRun pactl(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"pactl", "--server=" + address()});
        return runProgram(arguments);
    }

    std::string directory() const { return m_folder.path().string(); }
    std::string address() const { return "unix:" + directory() + "/native"; }

private:
    TestDirectory m_folder;
    GRef<GSubprocess> m_daemon;
};

bool processIsGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    return !std::getline(stat, line) || line.contains(") Z ");
}

class PageAudioCaptionTest : public WebViewTest {
protected:
    static void SetUpTestSuite() {
        // As main() does: before any thread starts, so that the web processes inherit it.
        OwnPlaybackStreamRule::tagChildProcesses();
        WebViewTest::SetUpTestSuite();
    }

    void SetUp() override {
        for (const char* program : {"pulseaudio", "pactl", "paplay", "espeak-ng"})
            if (!hasProgram(program))
                GTEST_SKIP() << program << " is not installed (scripts/deps installs it)";
        // Started before the first page exists: the web processes take their environment, and
        // so their sound server, from us when WebKit starts them.
        const auto failure = sound.start();
        ASSERT_FALSE(failure) << *failure;
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
    json streams;
    runMainLoopUntil(
        [&] {
            streams = json::array();
            const auto all = json::parse(
                sound.pactl({"--format=json", "list", "sink-inputs"}).output, nullptr, false);
            for (const auto& stream : all.is_array() ? all : json::array())
                if (stream["properties"].value("media.name", "") != "pulsesink probe")
                    streams.push_back(stream["properties"]);
            return !streams.empty();
        },
        20s);
    ASSERT_EQ(streams.size(), 1u) << streams.dump(2);
    EXPECT_EQ(streams[0].value("application.process.binary", ""), "WebKitWebProcess")
        << "WebKit no longer plays pages' audio from its web process";
    EXPECT_EQ(streams[0].value(OwnPlaybackStreamRule::kOwnerProperty, ""), std::to_string(getpid()))
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
                       << manager.translatedText() << "\", status: " << manager.statusText();
    manager.stop();
    runMainLoopFor(50ms); // the posted stop of the capture stream
}

} // namespace
} // namespace aurelo::test
