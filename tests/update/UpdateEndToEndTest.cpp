// One update from end to end, with the real parts: the build's install rules put a bundle into a
// temporary Applications folder and start its program; the release tool makes a key pair, signs
// a newer build and publishes it into the reference service's update folder; the reference
// service serves it over HTTPS on loopback with a certificate made for the run; and the updater
// checks, downloads, verifies, stages and hands over to the relaunch script, which swaps the
// bundles once the program has quit and starts the new one.
//
// The client trusts the run's certificate through a certificate database of its own
// (trustAuthorities); certificate verification stays on.

#include "UpdateTestSupport.hpp"
#include "platform/GRef.hpp"
#include "support/LoopbackServer.hpp"
#include "support/MainLoopWait.hpp"
#include "support/Programs.hpp"
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

// `aurelo-service serve` on 127.0.0.1 with a port of the system's choosing, which it announces
// on its first line of output.
class ReferenceService {
public:
    ReferenceService(const fs::path& data, const test::TestCertificateFiles& certificate) {
        const char* argv[] = {AURELO_SERVICE_PROGRAM,
                              "serve",
                              "--listen",
                              "127.0.0.1:0",
                              "--data",
                              data.c_str(),
                              "--tls-cert",
                              certificate.certificate.c_str(),
                              "--tls-key",
                              certificate.privateKey.c_str(),
                              nullptr};
        GErrorHolder error;
        m_process = adoptGRef(g_subprocess_newv(argv, G_SUBPROCESS_FLAGS_STDOUT_PIPE, error.out()));
        if (!m_process) {
            m_problem = error->message;
            return;
        }
        auto lines =
            adoptGRef(g_data_input_stream_new(g_subprocess_get_stdout_pipe(m_process.get())));
        gchar* line = g_data_input_stream_read_line(lines.get(), nullptr, nullptr, nullptr);
        const std::string text = line ? line : "";
        g_free(line);
        std::smatch match;
        if (std::regex_search(text, match, std::regex("https://127\\.0\\.0\\.1:[0-9]+")))
            m_origin = match.str();
        else
            m_problem = "unexpected first line: " + text;
    }

    ~ReferenceService() {
        if (!m_process)
            return;
        g_subprocess_send_signal(m_process.get(), SIGTERM);
        g_subprocess_wait(m_process.get(), nullptr, nullptr);
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
        run({AURELO_CMAKE_COMMAND, "--install", AURELO_BINARY_DIR, "--prefix", prefix.string(),
             "--component", "bundle_probe"});
        return prefix / kBundleName;
    }

    std::string run(const std::vector<std::string>& arguments) {
        auto run = test::runProgram(arguments);
        EXPECT_TRUE(run.succeeded) << arguments[0] << ": " << run.output << run.errors;
        return run.output;
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

    test::TestDirectory temp;
    GPid m_runningProgram = 0;
};

// The running bundle lives in a folder with a single quote in its name, which the relaunch
// script has to quote.
TEST_F(UpdateEndToEndTest, AnInstalledBundleUpdatesItselfFromTheReferenceService) {
    // The installed application, running.
    const fs::path current = installBundle(temp.path() / "Bob's Applications");
    const fs::path program = current / "bin/aurelo_bundle_probe";
    auto self = nlohmann::json::parse(run({program.string()}), nullptr, false);
    ASSERT_TRUE(self.is_object() && self.contains("info")) << self;
    ASSERT_EQ(self["bundleLocation"], current.string());
    startRunningProgram(program);

    // The release: a key pair, and the next build of the same bundle, signed and published.
    const fs::path key = temp.path() / "release-key.pem";
    const auto keygen = run({AURELO_RELEASE_PROGRAM, "keygen", key.string()});
    std::smatch hex;
    ASSERT_TRUE(std::regex_search(keygen, hex, std::regex("[0-9a-f]{64}"))) << keygen;
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
    run({AURELO_RELEASE_PROGRAM, "publish", "--key", key.string(), "--bundle", next.string(),
         "--out", (serviceData / "updates").string(), "--notes", "端到端测试版本"});

    // The reference service over HTTPS, and an updater that trusts the run's certificate (a
    // session with the system's authorities refuses it, as UpdateCheckTest shows).
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
    std::string installedAtQuit;
    UpdateManager updater(service.origin(), session, application, publicKey, temp.path() / "tmp",
                          [&] {
                              ++quitRequests;
                              installedAtQuit = test::readFile(current / "bundle.json");
                              stopRunningProgram(); // what quitting does to the application
                          });
    std::vector<std::string> titles;
    updater.signalChanged().connect([&] {
        if (titles.empty() || titles.back() != updater.buttonTitle())
            titles.push_back(updater.buttonTitle());
    });
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
    EXPECT_EQ(titles, (std::vector<std::string>{"检查中…", "升级", "下载中…", "准备重启"}));
    EXPECT_EQ(nlohmann::json::parse(installedAtQuit)["build"], self["build"])
        << "the running bundle was replaced before the application quit";

    // The script swaps the bundles once the program has gone and starts the new one, which
    // reports from where it runs.
    ASSERT_TRUE(runMainLoopUntil([&] { return fs::exists(report()); }, 30s))
        << "the new program was not started";
    auto started = nlohmann::json::parse(test::readFile(report()), nullptr, false);
    ASSERT_TRUE(started.is_object() && started.contains("info")) << started.dump();
    EXPECT_EQ(started["bundleLocation"], current.string());
    EXPECT_EQ(started["info"]["build"], std::to_string(newBuild));
    EXPECT_EQ(started["info"]["version"], "9.9.9");

    auto installed = nlohmann::json::parse(test::readFile(current / "bundle.json"));
    EXPECT_EQ(installed["build"], std::to_string(newBuild));
    EXPECT_TRUE(verifyBundleSignature(current, *publicKey));
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(current.parent_path()))
        beside.push_back(entry.path().filename().string());
    ASSERT_EQ(beside.size(), 2u) << "only the bundle and its backup stay";
    const auto backup = beside[0].starts_with("Aurelo翻译器-更新备份-") ? beside[0] : beside[1];
    EXPECT_TRUE(backup.starts_with("Aurelo翻译器-更新备份-")) << backup;
    EXPECT_EQ(nlohmann::json::parse(
                  test::readFile(current.parent_path() / backup / "bundle.json"))["build"],
              self["build"]);
}

} // namespace
} // namespace aurelo
