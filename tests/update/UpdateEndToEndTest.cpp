// One update from end to end, with the real parts: the build's install rules put a bundle into a
// temporary Applications folder and start its program; the release tool makes a key pair, signs
// a newer build and publishes it into the reference service's update folder; the reference
// service serves it over HTTPS on loopback with a certificate made for the run; and the updater
// checks, downloads, verifies, stages and hands over to the relaunch script, which swaps the
// bundles once the program has quit and starts the new one.
//
// The client trusts the run's certificate through a certificate database of its own
// (trustAuthorities); certificate verification stays on.

#include "ServiceProcess.hpp"
#include "UpdateTestSupport.hpp"
#include "support/LoopbackServer.hpp"
#include "support/MainLoopWait.hpp"
#include "support/Programs.hpp"
#include "update/UpdateManager.hpp"

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
    // The install rules make a bundle that its program recognises wherever it was installed.
    ASSERT_TRUE(self.is_object() && self.contains("info")) << self;
    ASSERT_EQ(self["bundleLocation"], current.string());
    EXPECT_EQ(self["executable"], "bin/aurelo_bundle_probe");
    EXPECT_EQ(self["build"], AURELO_BUILD_NUMBER);
    EXPECT_EQ(self["info"], nlohmann::json({{"identifier", "com.aurelo.translator"},
                                            {"version", AURELO_VERSION},
                                            {"build", AURELO_BUILD_NUMBER},
                                            {"executable", "bin/aurelo_bundle_probe"}}));
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
    service::test::ServiceProcess reference(AURELO_SERVICE_PROGRAM);
    run({AURELO_RELEASE_PROGRAM, "publish", "--key", key.string(), "--bundle", next.string(),
         "--out", (reference.dataFolder() / "updates").string(), "--notes", "端到端测试版本"});

    // The reference service over HTTPS, and an updater that trusts the run's certificate (a
    // session with the system's authorities refuses it, as UpdateCheckTest shows).
    const auto certificate = test::writeTestCertificate(temp.path() / "tls");
    ASSERT_TRUE(reference.start({"--tls-cert", certificate.certificate.string(), "--tls-key",
                                 certificate.privateKey.string()}));
    ASSERT_TRUE(reference.origin().starts_with("https://127.0.0.1:")) << reference.origin();
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
    UpdateManager updater(reference.origin(), session, application, publicKey, temp.path() / "tmp",
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
