// A manifest server that never finishes or sends too much, and a package bigger than its
// manifest says: each ends the operation with a clear failure and leaves nothing behind.

#include "UpdateManagerFixture.hpp"
#include "support/DrippingServer.hpp"

namespace aurelo {
namespace {

using namespace std::chrono_literals;
using test::runMainLoopUntil;

class UpdateBoundsTest : public test::UpdateManagerFixture {};

TEST_F(UpdateBoundsTest, AManifestThatTricklesInForeverEndsTheCheckAtItsDeadline) {
    // A byte every 100 ms keeps the connection busy for 20 s: no silence for the session's
    // time-out to catch.
    test::DrippingServer dripping({.pieceSize = 1, .interval = 100ms, .maximumPieces = 200});
    UpdateManager updater(dripping.origin(), session, application, publicKey, temporaryDirectory(),
                          [] {});
    updater.setManifestDeadline(500ms);
    updater.checkForUpdates();
    EXPECT_EQ(updater.buttonTitle(), "检查中…");
    ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }, 10s));
    EXPECT_EQ(updater.buttonTitle(), "升级");
    EXPECT_TRUE(updater.showingAlert());
    EXPECT_EQ(updater.alertTitle(), "暂时无法检查更新");
    EXPECT_EQ(updater.alertMessage(), "请求超时。");
    EXPECT_LT(dripping.piecesSent(), 200u);
}

TEST_F(UpdateBoundsTest, AnOversizedManifestIsRefusedUnread) {
    server.route("/updates/latest.json",
                 test::ScriptedAnswer::text(200, std::string(kDefaultMaximumBodySize + 1, ' '),
                                            "application/json"));
    UpdateManager& updater = makeManager();
    updater.checkForUpdates();
    ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }));
    EXPECT_EQ(updater.alertTitle(), "暂时无法检查更新");
    EXPECT_EQ(updater.alertMessage(), "服务器的回应超出了允许的大小。");
}

TEST_F(UpdateBoundsTest, APackageLongerThanTheManifestSaysIsStoppedAndRemoved) {
    auto manifest = publishBundle(newBundle());
    application.bundleLocation = "/usr"; // a package that passes stops short of replacing
    const auto size = test::readFile(temp.path() / "AureloTranslator-58.zip").size();
    const struct {
        std::uint64_t stated;
        bool refusedAsTooLarge;
    } cases[] = {{size - 1, true}, {1, true}, {size, false}, {size + 1000, false}};
    for (const auto& c : cases) {
        manifest["packageSize"] = c.stated;
        serveManifest(manifest);
        manager.reset();
        server.clearRequests();
        checkAndInstall();
        ASSERT_FALSE(manager->isBusy());
        EXPECT_EQ(server.requestCount("/updates/AureloTranslator-58.zip"), 1u);
        const bool tooLarge = manager->alertMessage() == "服务器的回应超出了允许的大小。";
        EXPECT_EQ(tooLarge, c.refusedAsTooLarge) << c.stated << ": " << manager->alertMessage();
        EXPECT_TRUE(entriesStartingWith(temporaryDirectory(), "aurelo-update-").empty());
    }
}

TEST_F(UpdateBoundsTest, APackageSizeOfAnotherTypeIsADecodingError) {
    for (const nlohmann::json& stated :
         {nlohmann::json(-1), nlohmann::json("12"), nlohmann::json(1.5), nlohmann::json::array()}) {
        auto manifest = publishBundle(newBundle());
        manifest["packageSize"] = stated;
        serveManifest(manifest);
        manager.reset();
        UpdateManager& updater = makeManager();
        updater.checkForUpdates();
        ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }));
        EXPECT_EQ(updater.alertTitle(), "暂时无法检查更新") << stated.dump();
        EXPECT_FALSE(updater.updateAvailable()) << stated.dump();
    }
}

} // namespace
} // namespace aurelo
