// Checking the service's manifest: which builds are offered, and how each failure reads.

#include "UpdateManagerFixture.hpp"

namespace aurelo {
namespace {

using test::runMainLoopUntil;

class UpdateCheckTest : public test::UpdateManagerFixture {
protected:
    nlohmann::json manifest(std::int64_t build, const std::string& version = "2.0.0") {
        return {{"version", version},
                {"build", build},
                {"downloadPath", "/updates/a.zip"},
                {"sha256", "00"},
                {"notes", "新功能"}};
    }

    void check() {
        UpdateManager& updater = manager ? *manager : makeManager();
        updater.checkForUpdates();
        ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }));
        EXPECT_TRUE(updater.showingAlert());
        EXPECT_EQ(updater.buttonTitle(), "升级");
    }
};

TEST_F(UpdateCheckTest, OnlyAHigherBuildIsOffered) {
    const struct {
        std::optional<std::string> running;
        std::int64_t offered;
        std::string version;
        bool expectUpdate;
    } cases[] = {
        {"57", 58, "2.0.0", true},     {"58", 58, "2.0.0", false},   {"58", 58, "9.9.9", false},
        {"57", 58, "0.1", true}, // a "lower" version text with a higher build
        {"59", 58, "2.0.0", false},    {std::nullopt, 1, "1", true}, {"abc", 1, "1", true},
        {std::nullopt, 0, "1", false}, {"abc", 0, "1", false},
    };
    for (const auto& c : cases) {
        application.buildNumber = c.running;
        serveManifest(manifest(c.offered, c.version));
        manager.reset();
        check();
        const std::string label = c.running.value_or("<none>") + " vs " + std::to_string(c.offered);
        EXPECT_EQ(manager->updateAvailable(), c.expectUpdate) << label;
        if (c.expectUpdate) {
            EXPECT_EQ(manager->alertTitle(), "发现新版本 v" + c.version) << label;
            EXPECT_EQ(manager->alertMessage(),
                      "新功能\n\n点击“立即升级”后，应用会自动下载并安装。");
            ASSERT_TRUE(manager->availableManifest());
            EXPECT_EQ(manager->availableManifest()->build, c.offered);
            EXPECT_EQ(manager->alert().buttons,
                      (std::vector<UpdateAlertButton>{{"立即升级", UpdateAlertAction::Install},
                                                      {"稍后", UpdateAlertAction::Dismiss}}));
        } else {
            EXPECT_EQ(manager->alertTitle(), "已经是最新版") << label;
            EXPECT_EQ(manager->alertMessage(), "当前版本无需升级。");
            EXPECT_FALSE(manager->availableManifest());
            EXPECT_EQ(manager->alert().buttons,
                      (std::vector<UpdateAlertButton>{{"知道了", UpdateAlertAction::Dismiss}}));
        }
    }
}

TEST_F(UpdateCheckTest, AnyStatusButExactly200OrAManifestThatDoesNotDecodeSaysWhy) {
    auto noNotes = manifest(99);
    noNotes.erase("notes");
    const std::pair<test::ScriptedAnswer, const char*> cases[] = {
        {test::ScriptedAnswer::json(204, manifest(99)), "更新服务器暂时无法访问，请稍后重试。"},
        {test::ScriptedAnswer::json(304, manifest(99)), "更新服务器暂时无法访问，请稍后重试。"},
        {test::ScriptedAnswer::json(201, manifest(99)), "更新服务器暂时无法访问，请稍后重试。"},
        {test::ScriptedAnswer::json(404, manifest(99)), "更新服务器暂时无法访问，请稍后重试。"},
        {test::ScriptedAnswer::json(500, manifest(99)), "更新服务器暂时无法访问，请稍后重试。"},
        {test::ScriptedAnswer::json(200, noNotes), "未能读取数据，因为缺少“notes”。"},
    };
    for (const auto& [answer, message] : cases) {
        SCOPED_TRACE(answer.status);
        server.route("/updates/latest.json", answer);
        manager.reset();
        check();
        EXPECT_EQ(manager->alertTitle(), "暂时无法检查更新");
        EXPECT_EQ(manager->alertMessage(), message);
        EXPECT_FALSE(manager->updateAvailable());
        EXPECT_EQ(manager->alert().buttons.size(), 1u);
    }
}

TEST_F(UpdateCheckTest, AnUntrustedCertificateIsATransportFailure) {
    HttpSession untrusting{HttpSessionConfiguration{}};
    serveManifest(manifest(99));
    manager = std::make_unique<UpdateManager>(server.origin(), untrusting, application, publicKey,
                                              temporaryDirectory(), [] {});
    check();
    EXPECT_EQ(manager->alertTitle(), "暂时无法检查更新");
    EXPECT_EQ(manager->alertMessage(), "发生了 SSL 错误，无法建立与该服务器的安全连接。");
    EXPECT_EQ(server.requestCount("/updates/latest.json"), 0u);
    manager.reset();
}

TEST_F(UpdateCheckTest, PressingTwiceStartsOneCheck) {
    serveManifest(manifest(99));
    UpdateManager& updater = makeManager();
    updater.checkForUpdates();
    EXPECT_TRUE(updater.isBusy());
    EXPECT_EQ(updater.buttonTitle(), "检查中…");
    updater.checkForUpdates();
    ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }));
    test::runMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(server.requestCount("/updates/latest.json"), 1u);
}

TEST_F(UpdateCheckTest, AFailedCheckKeepsTheManifestALaterUpToDateCheckClearsIt) {
    serveManifest(manifest(99));
    check();
    ASSERT_TRUE(manager->availableManifest());

    server.route("/updates/latest.json",
                 test::ScriptedAnswer::text(503, "", "application/octet-stream"));
    check();
    EXPECT_FALSE(manager->updateAvailable());
    ASSERT_TRUE(manager->availableManifest());
    EXPECT_EQ(manager->availableManifest()->build, 99);

    serveManifest(manifest(57));
    check();
    EXPECT_FALSE(manager->availableManifest());
}

} // namespace
} // namespace aurelo
