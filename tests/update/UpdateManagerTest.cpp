// The updater against a local HTTPS service: what a check offers, how each failure reads, and the
// download's bounds. What a package must be is PackageStagingTest's; the real replacement of a
// bundle is UpdateEndToEndTest's.

#include "update/UpdateManager.hpp"
#include "UpdateTestSupport.hpp"
#include "support/DrippingServer.hpp"
#include "support/LoopbackServer.hpp"
#include "support/MainLoopWait.hpp"
#include "update/UpdateAlertPresenter.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace aurelo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::runMainLoopUntil;
using test::ScriptedAnswer;

constexpr const char* kPackagePath = "/updates/AureloTranslator-58.zip";
constexpr const char* kCheckFailed = "暂时无法检查更新";
constexpr const char* kTooLarge = "服务器的回应超出了允许的大小。";
const std::string kCannotLocate =
    std::string("安装失败。无法确定当前应用位置。\n\n") + UpdateManager::kPackageManagerHint;
const std::vector<UpdateAlertButton> kOkButton = {{"知道了", UpdateAlertAction::Dismiss}};
const std::vector<UpdateAlertButton> kRetryButtons = {{"重试", UpdateAlertAction::Retry},
                                                      {"关闭", UpdateAlertAction::Dismiss}};

// GIO runs TLS handshakes on its worker threads, which then hold thread-local state of the TLS
// module; LeakSanitizer (GCC 12 on glibc 2.36) crashes reading that state in a thread still
// alive at exit. Workers that run out of work end at once here, and the program lets the last
// ones finish before it exits.
class WorkerThreadsEnd : public ::testing::Environment {
public:
    void SetUp() override { g_thread_pool_set_max_unused_threads(0); }
    void TearDown() override { test::runMainLoopFor(1s); }
};
const auto* const kWorkerThreadsEnd = ::testing::AddGlobalTestEnvironment(new WorkerThreadsEnd);

class UpdateManagerTest : public test::SignedPackageTest {
protected:
    UpdateManagerTest() {
        server.trust(session);
        fs::create_directories(temporaryDirectory());
    }

    fs::path temporaryDirectory() const { return temp.path() / "tmp"; }

    UpdateManager& makeManager() {
        manager = std::make_unique<UpdateManager>(server.origin(), session, application, trustedKey,
                                                  temporaryDirectory(), [this] { ++quitRequests; });
        return *manager;
    }

    void serveManifest(const nlohmann::json& manifest) {
        server.route("/updates/latest.json", ScriptedAnswer::json(200, manifest));
    }

    void offer(std::int64_t build, const std::string& version = "2.0.0") {
        serveManifest({{"version", version},
                       {"build", build},
                       {"downloadPath", "/updates/a.zip"},
                       {"sha256", "00"},
                       {"notes", "新功能"}});
    }

    void servePackage(const std::string& bytes) {
        server.route(kPackagePath, ScriptedAnswer::text(200, bytes, "application/octet-stream"));
    }

    // Build 58 signed with the test key, served at kPackagePath and announced.
    nlohmann::json publish() {
        package = packed(newBundle());
        servePackage(package);
        const UpdateManifest announced = manifestFor(package);
        nlohmann::json manifest = {{"version", announced.version},
                                   {"build", announced.build},
                                   {"downloadPath", kPackagePath},
                                   {"sha256", announced.sha256},
                                   {"notes", announced.notes},
                                   {"packageSignature", *announced.packageSignature},
                                   {"extra", 1}}; // a key added by a later release is ignored
        serveManifest(manifest);
        return manifest;
    }

    UpdateManager& checked() {
        UpdateManager& updater = manager ? *manager : makeManager();
        updater.checkForUpdates();
        EXPECT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }));
        EXPECT_TRUE(updater.showingAlert());
        EXPECT_EQ(updater.buttonTitle(), "升级");
        return updater;
    }

    // Checks, accepts the offer and waits until the installation has failed or asked to quit.
    void checkAndInstall() {
        ASSERT_TRUE(checked().updateAvailable()) << manager->alertMessage();
        manager->chooseAlertAction(UpdateAlertAction::Install);
        ASSERT_TRUE(runMainLoopUntil([&] { return !manager->isBusy() || quitRequests > 0; }, 30s));
    }

    void installExpectingFailure(const std::string& message,
                                 const std::vector<UpdateAlertButton>& buttons) {
        manager.reset();
        checkAndInstall();
        EXPECT_FALSE(manager->isBusy());
        EXPECT_EQ(manager->buttonTitle(), "升级");
        EXPECT_TRUE(manager->showingAlert());
        EXPECT_EQ(manager->alert(), (UpdateAlert{"升级失败", message, buttons}));
        EXPECT_EQ(quitRequests, 0);
    }

    test::LoopbackServer server{{.https = true}};
    HttpSession session{HttpSessionConfiguration{}};
    std::optional<UpdatePublicKey> trustedKey = publicKey;
    // Outside a bundle: an installation that passes every check stops short of replacing it.
    RunningApplication application{.bundleLocation = "/usr",
                                   .bundleIdentifier = "com.aurelo.translator",
                                   .buildNumber = "57",
                                   .executable = "bin/aurelo-translator",
                                   .processIdentifier = 999'999'999}; // no such process
    std::string package;
    int quitRequests = 0;
    std::unique_ptr<UpdateManager> manager;
};

TEST_F(UpdateManagerTest, OnlyAHigherBuildIsOfferedWhateverTheVersionText) {
    const UpdateAlert upToDate{"已经是最新版", "当前版本无需升级。", kOkButton};
    const struct {
        std::optional<std::string> running;
        std::int64_t offered;
        std::string version;
        bool expectUpdate;
    } cases[] = {
        {"57", 58, "2.0.0", true},  {"58", 58, "9.9.9", false},   {"57", 58, "0.1", true},
        {"59", 58, "2.0.0", false}, {std::nullopt, 1, "1", true}, {std::nullopt, 0, "1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.running.value_or("<none>") + " vs " + std::to_string(c.offered));
        application.buildNumber = c.running;
        offer(c.offered, c.version);
        manager.reset();
        EXPECT_EQ(checked().updateAvailable(), c.expectUpdate);
        EXPECT_EQ(manager->availableManifest().has_value(), c.expectUpdate);
        const UpdateAlert offered{
            "发现新版本 v" + c.version,
            "新功能\n\n点击“立即升级”后，应用会自动下载并安装。",
            {{"立即升级", UpdateAlertAction::Install}, {"稍后", UpdateAlertAction::Dismiss}}};
        EXPECT_EQ(manager->alert(), c.expectUpdate ? offered : upToDate);
    }
}

TEST_F(UpdateManagerTest, AFailedCheckSaysWhyAndKeepsWhatAnEarlierCheckFound) {
    offer(99);
    checked();
    const std::string unavailable = "更新服务器暂时无法访问，请稍后重试。";
    const std::pair<ScriptedAnswer, std::string> cases[] = {
        {ScriptedAnswer::json(204, {}), unavailable},
        {ScriptedAnswer::json(304, {}), unavailable},
        {ScriptedAnswer::json(201, {}), unavailable},
        {ScriptedAnswer::json(404, {}), unavailable},
        {ScriptedAnswer::json(500, {}), unavailable},
        {ScriptedAnswer::json(200, {{"version", "2"}}), "未能读取数据，因为缺少“build”。"},
        {ScriptedAnswer::text(200, std::string(kDefaultMaximumBodySize + 1, ' '),
                              "application/json"),
         kTooLarge},
    };
    for (const auto& [answer, message] : cases) {
        SCOPED_TRACE(answer.status);
        server.route("/updates/latest.json", answer);
        EXPECT_EQ(checked().alert(), (UpdateAlert{kCheckFailed, message, kOkButton}));
        EXPECT_FALSE(manager->updateAvailable());
        ASSERT_TRUE(manager->availableManifest());
        EXPECT_EQ(manager->availableManifest()->build, 99);
    }
    offer(57);
    EXPECT_FALSE(checked().availableManifest());
}

TEST_F(UpdateManagerTest, AnUntrustedCertificateIsATransportFailure) {
    HttpSession untrusting{HttpSessionConfiguration{}};
    offer(99);
    manager = std::make_unique<UpdateManager>(server.origin(), untrusting, application, trustedKey,
                                              temporaryDirectory(), [] {});
    EXPECT_EQ(checked().alertTitle(), kCheckFailed);
    EXPECT_EQ(manager->alertMessage(), "发生了 SSL 错误，无法建立与该服务器的安全连接。");
    EXPECT_EQ(server.requestCount("/updates/latest.json"), 0u);
    manager.reset();
}

TEST_F(UpdateManagerTest, AManifestThatTricklesInForeverEndsTheCheckAtItsDeadline) {
    // A byte every 100 ms: no silence for the session's time-out to catch.
    test::DrippingServer dripping({.pieceSize = 1, .interval = 100ms, .maximumPieces = 200});
    UpdateManager updater(dripping.origin(), session, application, trustedKey, temporaryDirectory(),
                          [] {});
    updater.setManifestDeadline(500ms);
    updater.checkForUpdates();
    ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }, 10s));
    EXPECT_EQ(updater.alertTitle(), kCheckFailed);
    EXPECT_EQ(updater.alertMessage(), "请求超时。");
    EXPECT_LT(dripping.piecesSent(), 200u);
}

TEST_F(UpdateManagerTest, PressingTwiceStartsOneCheckAndNoInstallation) {
    UpdateManager& updater = makeManager();
    updater.downloadAndInstall(); // nothing offered yet
    EXPECT_FALSE(updater.isBusy());
    EXPECT_EQ(updater.buttonTitle(), "升级");

    publish();
    updater.checkForUpdates();
    EXPECT_EQ(updater.buttonTitle(), "检查中…");
    updater.checkForUpdates();
    updater.downloadAndInstall();
    ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }));
    test::runMainLoopFor(100ms);
    EXPECT_EQ(server.requestCount("/updates/latest.json"), 1u);
    EXPECT_EQ(server.requestCount(kPackagePath), 0u);
}

TEST_F(UpdateManagerTest, AFailedInstallationSaysWhyAndLeavesNothingBehind) {
    auto manifest = publish();
    auto offHost = manifest;
    const std::string port = server.origin().substr(server.origin().rfind(':'));
    offHost["downloadPath"] = "http://127.0.0.1" + port + kPackagePath;
    serveManifest(offHost);
    installExpectingFailure("更新包地址无效。", kOkButton);
    EXPECT_EQ(server.requestCount(kPackagePath), 0u);

    // A build without a key trusts nothing, and says why, so that nobody waits for a retry.
    serveManifest(manifest);
    trustedKey.reset();
    installExpectingFailure(std::string("更新包安全校验失败，已停止安装。\n\n") +
                                UpdateManager::kNoReleaseKeyHint,
                            kOkButton);

    for (unsigned status : {404u, 203u, 302u}) {
        SCOPED_TRACE(status);
        server.route(kPackagePath,
                     ScriptedAnswer::text(status, "not the package", "application/octet-stream"));
        installExpectingFailure("更新包下载失败，请稍后重试。", kRetryButtons);
    }
    EXPECT_TRUE(fs::is_empty(temporaryDirectory()));

    // "重试" downloads the package again and gets as far as the package now allows.
    server.clearRequests();
    trustedKey = publicKey;
    manager.reset();
    checkAndInstall();
    servePackage(package);
    manager->chooseAlertAction(UpdateAlertAction::Retry);
    ASSERT_TRUE(runMainLoopUntil([&] { return !manager->isBusy(); }, 30s));
    EXPECT_EQ(server.requestCount(kPackagePath), 2u);
    EXPECT_EQ(manager->alert(), (UpdateAlert{"升级失败", kCannotLocate, kOkButton}));
}

TEST_F(UpdateManagerTest, APackageLongerThanTheManifestStatesIsStoppedAndRemoved) {
    auto manifest = publish();
    const std::uint64_t size = package.size();
    const std::pair<std::uint64_t, std::string> cases[] = {
        {size - 1, kTooLarge}, {size, kCannotLocate}, {size + 1000, kCannotLocate}};
    for (const auto& [stated, message] : cases) {
        SCOPED_TRACE(stated);
        manifest["packageSize"] = stated;
        serveManifest(manifest);
        manager.reset();
        server.clearRequests();
        checkAndInstall();
        EXPECT_EQ(server.requestCount(kPackagePath), 1u);
        EXPECT_EQ(manager->alertMessage(), message);
        EXPECT_FALSE(std::ranges::any_of(fs::directory_iterator(temporaryDirectory()), [](auto& e) {
            return e.path().filename().string().starts_with("aurelo-update-");
        }));
    }
}

// Staging succeeds, replacing cannot: the open "ready" alert turns into the failure in place.
TEST_F(UpdateManagerTest, AProgramOutsideABundleIsVerifiedButNotReplaced) {
    auto manifest = publish();
    manifest["downloadPath"] = "AureloTranslator-58.zip"; // beside the manifest
    serveManifest(manifest);
    UpdateManager& updater = makeManager();
    UpdateAlertPresenter presenter;
    std::vector<UpdateAlertPresenter::Step> steps;
    std::vector<std::string> buttonTitles;
    std::vector<std::string> shownTitles;
    std::vector<double> progress;
    updater.signalChanged().connect([&] {
        if (buttonTitles.empty() || buttonTitles.back() != updater.buttonTitle())
            buttonTitles.push_back(updater.buttonTitle());
        if (updater.downloadProgress())
            progress.push_back(*updater.downloadProgress());
        steps.push_back(presenter.next(updater.showingAlert(), updater.alert()));
        if (presenter.shown())
            shownTitles.push_back(presenter.shown()->title);
    });
    checkAndInstall();
    EXPECT_EQ(server.requestCount(kPackagePath), 1u);
    EXPECT_EQ(updater.alertTitle(), "升级失败");
    EXPECT_EQ(updater.alertMessage(), kCannotLocate);
    EXPECT_EQ(buttonTitles,
              (std::vector<std::string>{"检查中…", "升级", "下载中…", "准备重启", "升级"}));
    ASSERT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);

    ASSERT_TRUE(presenter.shown());
    EXPECT_EQ(*presenter.shown(), updater.alert());
    ASSERT_GE(shownTitles.size(), 2u);
    EXPECT_EQ(shownTitles[shownTitles.size() - 2], "升级已准备完成");
    EXPECT_EQ(steps.back(), UpdateAlertPresenter::Step::Refresh);
}

} // namespace
} // namespace aurelo
