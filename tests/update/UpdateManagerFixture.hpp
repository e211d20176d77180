#pragma once

// An UpdateManager against a local HTTPS service that the test fills with manifests and
// packages, with a release key made for the test and a running "application" in a temporary
// folder.

#include "UpdateTestSupport.hpp"
#include "support/LoopbackServer.hpp"
#include "support/MainLoopWait.hpp"
#include "update/Sha256.hpp"
#include "update/UpdateManager.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>

namespace aurelo::test {

class UpdateManagerFixture : public ::testing::Test {
protected:
    UpdateManagerFixture() {
        server.trust(session);
        fs::create_directories(temporaryDirectory());
        fs::create_directories(applicationsFolder());
        makeBundle(applicationsFolder(), "Aurelo翻译器.app", BundleRecipe{.build = "57"});
        application.bundleLocation = applicationsFolder() / "Aurelo翻译器.app";
        application.bundleIdentifier = "com.aurelo.translator";
        application.buildNumber = "57";
        application.executable = "bin/aurelo-translator";
        application.processIdentifier = 999'999'999; // no such process
    }
    ~UpdateManagerFixture() override { manager.reset(); }

    fs::path temporaryDirectory() const { return temp.path() / "tmp"; }
    virtual fs::path applicationsFolder() const { return temp.path() / "Apps"; }

    UpdateManager& makeManager() {
        manager = std::make_unique<UpdateManager>(server.origin(), session, application, publicKey,
                                                  temporaryDirectory(), [this] { ++quitRequests; });
        manager->signalChanged().connect([this] {
            if (titles.empty() || titles.back() != manager->buttonTitle())
                titles.push_back(manager->buttonTitle());
            if (manager->downloadProgress())
                progress.push_back(*manager->downloadProgress());
        });
        return *manager;
    }

    void serveManifest(const nlohmann::json& manifest) {
        server.route("/updates/latest.json",
                     ScriptedAnswer::text(200, manifest.dump(), "application/json"));
    }

    // Serves `zip` as /updates/<name> and a manifest for it with the right checksum and the
    // test key's package signature.
    nlohmann::json publishZip(const fs::path& zip, std::int64_t build = 58) {
        std::string bytes = readFile(zip);
        std::string name = zip.filename().string();
        server.route("/updates/" + name,
                     ScriptedAnswer::text(200, bytes, "application/octet-stream"));
        nlohmann::json manifest = {
            {"version", "2.0.0"},
            {"build", build},
            {"downloadPath", "/updates/" + name},
            {"sha256", sha256::hexOf(bytes)},
            {"notes", "修复了若干问题"},
            {"packageSignature", release::signPackageDigest(sha256::hexOf(bytes), key).value()}};
        serveManifest(manifest);
        return manifest;
    }

    // Signs `bundle` with the test key, packs it and publishes it.
    nlohmann::json publishBundle(const fs::path& bundle, std::int64_t build = 58) {
        EXPECT_TRUE(release::signBundle(bundle, key));
        fs::path zip = temp.path() / ("AureloTranslator-" + std::to_string(build) + ".zip");
        EXPECT_TRUE(release::writeBundleArchive(bundle, zip));
        return publishZip(zip, build);
    }

    fs::path newBundle(const BundleRecipe& recipe = {}) {
        fs::path folder = temp.path() / "release";
        fs::remove_all(folder);
        return makeBundle(folder, "Aurelo翻译器.app", recipe);
    }

    // Checks, accepts the offered update and waits until the installation has failed or has
    // asked the application to quit.
    void checkAndInstall() {
        UpdateManager& updater = manager ? *manager : makeManager();
        updater.checkForUpdates();
        ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }));
        ASSERT_TRUE(updater.updateAvailable()) << updater.alertMessage();
        updater.chooseAlertAction(UpdateAlertAction::Install);
        ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy() || quitRequests > 0; },
                                     std::chrono::seconds(30)));
    }

    // Entries of `folder` whose names start with `prefix`.
    static std::vector<fs::path> entriesStartingWith(const fs::path& folder,
                                                     const std::string& prefix) {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename().string().starts_with(prefix))
                found.push_back(entry.path());
        return found;
    }

    TestDirectory temp;
    LoopbackServer server{{.https = true}};
    HttpSession session{HttpSessionConfiguration{}};
    release::SigningKey key = release::generateSigningKey();
    std::optional<UpdatePublicKey> publicKey = publicKeyOf(key);
    RunningApplication application;
    int quitRequests = 0;
    std::vector<std::string> titles;
    std::vector<double> progress;
    std::unique_ptr<UpdateManager> manager;
};

} // namespace aurelo::test
