// One update from end to end, with the real parts: the build's install rules put a bundle into a
// temporary Applications folder and start its program; the release tool makes a key pair, signs
// a newer build and publishes it into the reference service's update folder; the reference
// service serves it over HTTPS on loopback with a certificate made for the run; and the updater
// checks, downloads, verifies, stages and hands over to the relaunch script, which swaps the
// bundles once the program has quit and starts the new one.
//
// The client trusts the run's certificate through a certificate database of its own
// (trustAuthorities); certificate verification stays on.

#include "HttpsTestServer.hpp"
#include "UpdateTestSupport.hpp"
#include "platform/GRef.hpp"
#include "support/MainLoopWait.hpp"
#include "update/UpdateManager.hpp"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <regex>

namespace aurelo {
namespace {

using namespace std::chrono_literals;
using test::runMainLoopUntil;
namespace fs = std::filesystem;

const std::string kBundleName = "Aurelo翻译器.app";

struct Outcome {
    bool succeeded = false;
    std::string output;
};

// Runs a command to its end without blocking the main loop, for at most `deadline`.
Outcome run(const std::vector<std::string>& arguments, std::chrono::milliseconds deadline = 60s) {
    std::vector<const char*> argv;
    for (const auto& a : arguments)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GErrorHolder error;
    auto process =
        adoptGRef(g_subprocess_newv(argv.data(),
                                    static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                                  G_SUBPROCESS_FLAGS_STDERR_MERGE),
                                    error.out()));
    if (!process)
        return {false, error->message};
    struct State {
        bool done = false;
        Outcome outcome;
    };
    auto state = std::make_shared<State>();
    g_subprocess_communicate_utf8_async(
        process.get(), nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<State>> state(
                static_cast<std::shared_ptr<State>*>(data));
            auto* subprocess = G_SUBPROCESS(source);
            gchar* out = nullptr;
            if (g_subprocess_communicate_utf8_finish(subprocess, result, &out, nullptr, nullptr))
                (*state)->outcome.succeeded = g_subprocess_get_successful(subprocess);
            (*state)->outcome.output = out ? out : "";
            g_free(out);
            (*state)->done = true;
        },
        new std::shared_ptr<State>(state));
    if (!runMainLoopUntil([&] { return state->done; }, deadline)) {
        g_subprocess_force_exit(process.get());
        runMainLoopUntil([&] { return state->done; }, 10s);
        return {false, arguments[0] + " did not finish: " + state->outcome.output};
    }
    return state->outcome;
}

// `aurelo-service serve` on 127.0.0.1 with a port of the system's choosing, which it announces
// on its first line of output.
class ReferenceService {
public:
    ReferenceService(const fs::path& data, const test::TestCertificateFiles& certificate) {
        const std::vector<std::string> arguments{AURELO_SERVICE_PROGRAM,
                                                 "serve",
                                                 "--listen",
                                                 "127.0.0.1:0",
                                                 "--data",
                                                 data.string(),
                                                 "--tls-cert",
                                                 certificate.certificate.string(),
                                                 "--tls-key",
                                                 certificate.privateKey.string()};
        std::vector<const char*> argv;
        for (const auto& a : arguments)
            argv.push_back(a.c_str());
        argv.push_back(nullptr);
        GErrorHolder error;
        m_process =
            adoptGRef(g_subprocess_newv(argv.data(), G_SUBPROCESS_FLAGS_STDOUT_PIPE, error.out()));
        if (!m_process) {
            m_problem = error->message;
            return;
        }
        auto lines =
            adoptGRef(g_data_input_stream_new(g_subprocess_get_stdout_pipe(m_process.get())));
        struct Line {
            bool done = false;
            std::string text;
        };
        auto line = std::make_shared<Line>();
        g_data_input_stream_read_line_async(
            lines.get(), G_PRIORITY_DEFAULT, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::shared_ptr<Line>> line(
                    static_cast<std::shared_ptr<Line>*>(data));
                gchar* text = g_data_input_stream_read_line_finish(G_DATA_INPUT_STREAM(source),
                                                                   result, nullptr, nullptr);
                (*line)->text = text ? text : "";
                g_free(text);
                (*line)->done = true;
            },
            new std::shared_ptr<Line>(line));
        if (!runMainLoopUntil([&] { return line->done; }, 30s)) {
            m_problem = "the service did not announce its address";
            return;
        }
        std::smatch match;
        if (std::regex_search(line->text, match, std::regex("https://127\\.0\\.0\\.1:[0-9]+")))
            m_origin = match.str();
        else
            m_problem = "unexpected first line: " + line->text;
    }

    ~ReferenceService() {
        if (!m_process)
            return;
        g_subprocess_send_signal(m_process.get(), SIGTERM);
        bool exited = false;
        g_subprocess_wait_async(
            m_process.get(), nullptr,
            [](GObject*, GAsyncResult*, gpointer flag) { *static_cast<bool*>(flag) = true; },
            &exited);
        if (!runMainLoopUntil([&] { return exited; }, 20s)) {
            g_subprocess_force_exit(m_process.get());
            runMainLoopUntil([&] { return exited; }, 20s);
        }
    }

    const std::string& origin() const { return m_origin; }
    const std::string& problem() const { return m_problem; }

private:
    GRef<GSubprocess> m_process;
    std::string m_origin;
    std::string m_problem;
};

class UpdateEndToEndTest : public ::testing::Test {
protected:
    void TearDown() override {
        g_unsetenv("AURELO_PROBE_REPORT");
        stopRunningProgram();
    }

    fs::path report() const { return temp.path() / "relaunched.json"; }

    // The build's own install rules, with the stand-in program as the bundle's program.
    fs::path installBundle(const fs::path& prefix) {
        auto installed = run({AURELO_CMAKE_COMMAND, "--install", AURELO_BINARY_DIR, "--prefix",
                              prefix.string(), "--component", "bundle_probe"});
        EXPECT_TRUE(installed.succeeded) << installed.output;
        return prefix / kBundleName;
    }

    void startRunningProgram(const fs::path& program) {
        gchar* argv[] = {const_cast<gchar*>(program.c_str()), const_cast<gchar*>("--wait"),
                         nullptr};
        ASSERT_TRUE(g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                  nullptr, &m_runningProgram, nullptr));
        // Reaped as soon as it ends: the relaunch script waits while the process id exists, and
        // an unreaped child would exist for ever.
        g_child_watch_add(
            m_runningProgram,
            [](GPid pid, gint, gpointer self) {
                g_spawn_close_pid(pid);
                static_cast<UpdateEndToEndTest*>(self)->m_runningProgram = 0;
            },
            this);
    }

    void stopRunningProgram() {
        if (m_runningProgram == 0)
            return;
        kill(m_runningProgram, SIGTERM);
        runMainLoopUntil([&] { return m_runningProgram == 0; }, 20s);
    }

    test::TemporaryDirectory temp;
    GPid m_runningProgram = 0;
};

TEST_F(UpdateEndToEndTest, AnInstalledBundleUpdatesItselfFromTheReferenceService) {
    // The installed application, running.
    const fs::path current = installBundle(temp.path() / "Applications");
    const fs::path program = current / "bin/aurelo_bundle_probe";
    ASSERT_TRUE(fs::is_regular_file(program));
    auto selfView = run({program.string()});
    ASSERT_TRUE(selfView.succeeded) << selfView.output;
    auto self = nlohmann::json::parse(selfView.output, nullptr, false);
    ASSERT_TRUE(self.is_object() && self.contains("info")) << selfView.output;
    ASSERT_EQ(self["bundleLocation"], current.string());
    startRunningProgram(program);

    // The release: a key pair, and the next build of the same bundle, signed and published.
    const fs::path key = temp.path() / "release-key.pem";
    auto keygen = run({AURELO_RELEASE_PROGRAM, "keygen", key.string()});
    ASSERT_TRUE(keygen.succeeded) << keygen.output;
    std::smatch hex;
    ASSERT_TRUE(std::regex_search(keygen.output, hex, std::regex("[0-9a-f]{64}"))) << keygen.output;
    // What -DAURELO_UPDATE_PUBLIC_KEY=… compiles into a release build.
    const auto publicKey = parseUpdatePublicKey(hex.str());
    ASSERT_TRUE(publicKey);

    const std::int64_t newBuild = std::stoll(self["build"].get<std::string>()) + 1;
    const fs::path next = installBundle(temp.path() / "release");
    auto info = nlohmann::json::parse(test::readFile(next / "bundle.json"));
    info["version"] = "9.9.9";
    info["build"] = std::to_string(newBuild);
    test::writeFile(next / "bundle.json", info.dump(2));
    const fs::path serviceData = temp.path() / "service";
    auto published =
        run({AURELO_RELEASE_PROGRAM, "publish", "--key", key.string(), "--bundle", next.string(),
             "--out", (serviceData / "updates").string(), "--notes", "端到端测试版本"});
    ASSERT_TRUE(published.succeeded) << published.output;

    // The reference service over HTTPS, and an updater that trusts the run's certificate.
    fs::create_directories(temp.path() / "tls");
    const auto certificate = test::writeTestCertificate(temp.path() / "tls");
    ReferenceService service(serviceData, certificate);
    ASSERT_TRUE(service.problem().empty()) << service.problem();
    HttpSession session{HttpSessionConfiguration{}};
    test::trustAuthorities(session, certificate.certificate);

    RunningApplication application{
        .bundleLocation = fs::path(self["bundleLocation"].get<std::string>()),
        .bundleIdentifier = self["info"]["identifier"].get<std::string>(),
        .buildNumber = self["build"].get<std::string>(),
        .executable = self["executable"].get<std::string>(),
        .processIdentifier = m_runningProgram,
    };
    fs::create_directories(temp.path() / "tmp");
    int quitRequests = 0;
    UpdateManager updater(service.origin(), session, application, publicKey, temp.path() / "tmp",
                          [&] {
                              ++quitRequests;
                              stopRunningProgram(); // what quitting does to the application
                          });

    {
        // Verification is really on: a session with the system's authorities refuses the
        // service's certificate.
        HttpSession untrusting{HttpSessionConfiguration{}};
        UpdateManager refused(service.origin(), untrusting, application, publicKey,
                              temp.path() / "tmp", [] {});
        refused.checkForUpdates();
        ASSERT_TRUE(runMainLoopUntil([&] { return !refused.isBusy(); }, 30s));
        EXPECT_EQ(refused.alertTitle(), "暂时无法检查更新");
        EXPECT_FALSE(refused.updateAvailable());
    }

    updater.checkForUpdates();
    ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }, 30s));
    ASSERT_TRUE(updater.updateAvailable())
        << updater.alertTitle() << ": " << updater.alertMessage();
    EXPECT_EQ(updater.alertTitle(), "发现新版本 v9.9.9");
    EXPECT_EQ(updater.alertMessage().rfind("端到端测试版本\n\n", 0), 0u);

    // The relaunched program, started by the script with our environment, tells the test where
    // it runs from.
    g_setenv("AURELO_PROBE_REPORT", report().c_str(), TRUE);
    updater.chooseAlertAction(UpdateAlertAction::Install);
    ASSERT_TRUE(runMainLoopUntil([&] { return quitRequests > 0 || !updater.isBusy(); }, 45s));
    ASSERT_EQ(quitRequests, 1) << updater.alertTitle() << ": " << updater.alertMessage();
    EXPECT_EQ(updater.alertTitle(), "升级已准备完成");

    // The script swaps the bundles once the program has gone and starts the new one, which
    // reports from where it runs.
    guint ticker = g_timeout_add(
        50, [](gpointer) { return gboolean(G_SOURCE_CONTINUE); }, nullptr);
    const bool relaunched = runMainLoopUntil([&] { return fs::exists(report()); }, 30s);
    g_source_remove(ticker);
    ASSERT_TRUE(relaunched) << "the new program was not started";

    auto started = nlohmann::json::parse(test::readFile(report()), nullptr, false);
    ASSERT_TRUE(started.is_object() && started.contains("info")) << started.dump();
    EXPECT_EQ(started["bundleLocation"], current.string());
    EXPECT_EQ(started["info"]["build"], std::to_string(newBuild));
    EXPECT_EQ(started["info"]["version"], "9.9.9");

    auto installed = nlohmann::json::parse(test::readFile(current / "bundle.json"));
    EXPECT_EQ(installed["build"], std::to_string(newBuild));
    EXPECT_TRUE(verifyBundleSignature(current, *publicKey));
    std::vector<fs::path> backups;
    for (const auto& entry : fs::directory_iterator(current.parent_path()))
        if (entry.path().filename().string().starts_with("Aurelo翻译器-更新备份-"))
            backups.push_back(entry.path());
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(test::readFile(backups[0] / "bundle.json"))["build"],
              self["build"]);
}

} // namespace
} // namespace aurelo
