// One update with the real parts: the build's install rules, the release tool, the reference
// service over HTTPS on loopback (certificate verification on, trusting the run's certificate)
// and the relaunch script that swaps the bundles once the program has quit.

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
using Json = nlohmann::json;

class UpdateEndToEndTest : public ::testing::Test {
protected:
    void TearDown() override {
        g_unsetenv("AURELO_PROBE_REPORT");
        stopRunningProgram();
    }

    std::string run(const std::vector<std::string>& arguments) {
        auto run = test::runProgram(arguments);
        EXPECT_TRUE(run.succeeded) << arguments[0] << ": " << run.output << run.errors;
        return run.output;
    }

    // The build's own install rules, with the stand-in program as the bundle's program.
    fs::path installBundle(const fs::path& prefix) {
        run({AURELO_CMAKE_COMMAND, "--install", AURELO_BINARY_DIR, "--prefix", prefix.string(),
             "--component", "bundle_probe"});
        return prefix / "Aurelo翻译器.app";
    }

    void startRunningProgram(const fs::path& program) {
        gchar* argv[] = {const_cast<gchar*>(program.c_str()), const_cast<gchar*>("--wait"),
                         nullptr};
        ASSERT_TRUE(g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                  nullptr, &m_runningProgram, nullptr));
        // Reaped at once: the relaunch script waits while the process id exists.
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

// The folder's single quote is for the relaunch script to quote.
TEST_F(UpdateEndToEndTest, AnInstalledBundleUpdatesItselfFromTheReferenceService) {
    const fs::path current = installBundle(temp.path() / "Bob's Applications");
    const fs::path program = current / "bin/aurelo_bundle_probe";
    auto self = Json::parse(run({program.string()}), nullptr, false);
    ASSERT_TRUE(self.is_object() && self.contains("info")) << self;
    ASSERT_EQ(self["bundleLocation"], current.string());
    EXPECT_EQ(self["build"], AURELO_BUILD_NUMBER);
    EXPECT_EQ(self["info"]["version"], AURELO_VERSION); // the rest would fail the update below
    startRunningProgram(program);

    const fs::path key = temp.path() / "release-key.pem";
    const auto keygen = run({AURELO_RELEASE_PROGRAM, "keygen", key.string()});
    std::smatch hex;
    ASSERT_TRUE(std::regex_search(keygen, hex, std::regex("[0-9a-f]{64}"))) << keygen;
    const auto publicKey = parseUpdatePublicKey(hex.str()); // as a release build compiles it in
    ASSERT_TRUE(publicKey);

    const std::string newBuild = std::to_string(std::stoll(AURELO_BUILD_NUMBER) + 1);
    const fs::path next = installBundle(temp.path() / "release");
    auto info = Json::parse(test::readFile(next / "bundle.json"));
    info["version"] = "9.9.9";
    info["build"] = newBuild;
    test::writeFile(next / "bundle.json", info.dump(2));
    service::test::ServiceProcess reference(AURELO_SERVICE_PROGRAM);
    const fs::path updates = reference.dataFolder() / "updates";
    run({AURELO_RELEASE_PROGRAM, "publish", "--key", key.string(), "--bundle", next.string(),
         "--out", updates.string(), "--notes", "端到端测试版本"});
    const auto published = Json::parse(test::readFile(updates / "latest.json"));
    const fs::path archive = fs::path(published["downloadPath"].get<std::string>()).filename();
    EXPECT_EQ(published["packageSize"], fs::file_size(updates / archive));

    const auto certificate = test::writeTestCertificate(temp.path() / "tls");
    ASSERT_TRUE(reference.start({"--tls-cert", certificate.certificate.string(), "--tls-key",
                                 certificate.privateKey.string()}));
    HttpSession session{HttpSessionConfiguration{}};
    test::trustAuthorities(session, certificate.certificate);
    RunningApplication application{.bundleLocation = self["bundleLocation"].get<std::string>(),
                                   .bundleIdentifier = "com.aurelo.translator",
                                   .buildNumber = self["build"].get<std::string>(),
                                   .executable = self["executable"].get<std::string>(),
                                   .processIdentifier = m_runningProgram};
    int quitRequests = 0;
    std::string installedAtQuit;
    UpdateManager updater(reference.origin(), session, application, publicKey, temp.path(), [&] {
        ++quitRequests;
        installedAtQuit = test::readFile(current / "bundle.json");
        stopRunningProgram(); // what quitting does to the application
    });
    updater.checkForUpdates();
    ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }, 30s));
    ASSERT_TRUE(updater.updateAvailable()) << updater.alertMessage();
    EXPECT_EQ(updater.alertTitle(), "发现新版本 v9.9.9");
    EXPECT_TRUE(updater.alertMessage().starts_with("端到端测试版本\n\n"));

    // The relaunched program inherits our environment and reports where it runs from.
    const fs::path report = temp.path() / "relaunched.json";
    g_setenv("AURELO_PROBE_REPORT", report.c_str(), TRUE);
    updater.chooseAlertAction(UpdateAlertAction::Install);
    ASSERT_TRUE(runMainLoopUntil([&] { return quitRequests > 0 || !updater.isBusy(); }, 45s));
    ASSERT_EQ(quitRequests, 1) << updater.alertTitle() << ": " << updater.alertMessage();
    EXPECT_EQ(updater.alertTitle(), "升级已准备完成");
    EXPECT_EQ(Json::parse(installedAtQuit)["build"], AURELO_BUILD_NUMBER)
        << "the running bundle was replaced before the application quit";

    ASSERT_TRUE(runMainLoopUntil([&] { return fs::exists(report); }, 30s))
        << "the new program was not started";
    auto started = Json::parse(test::readFile(report), nullptr, false);
    ASSERT_TRUE(started.is_object() && started.contains("info")) << started.dump();
    EXPECT_EQ(started["bundleLocation"], current.string());
    EXPECT_EQ(started["info"]["build"], newBuild);
    EXPECT_EQ(started["info"]["version"], "9.9.9");
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(current.parent_path()))
        if (entry.path() != current)
            beside.push_back(entry.path().filename().string());
    ASSERT_EQ(beside.size(), 1u) << "only the bundle and its backup stay";
    EXPECT_TRUE(beside[0].starts_with("Aurelo翻译器-更新备份-")) << beside[0];
    EXPECT_EQ(
        Json::parse(test::readFile(current.parent_path() / beside[0] / "bundle.json"))["build"],
        AURELO_BUILD_NUMBER);
}

} // namespace
} // namespace aurelo
