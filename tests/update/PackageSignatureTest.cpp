// The package file is signed, and the signature is checked before the archive is opened; the
// copy that the swap installs is checked once more, and copies that fail are removed.

#include "UpdateManagerFixture.hpp"

#include <sys/stat.h>

namespace aurelo {
namespace {

namespace fs = std::filesystem;
using test::runMainLoopUntil;

constexpr const char* kRefused = "更新包安全校验失败，已停止安装。";

class PackageSignatureTest : public test::UpdateManagerFixture {
protected:
    // Installs with `manifest` served; returns the alert's message once the updater is idle.
    std::string install(const nlohmann::json& manifest) {
        serveManifest(manifest);
        manager.reset();
        checkAndInstall();
        EXPECT_FALSE(manager->isBusy());
        return manager->alertMessage();
    }

    bool nothingUnpacked() {
        return entriesStartingWith(temporaryDirectory(), "AureloTranslatorUpdate-").empty() &&
               entriesStartingWith(temporaryDirectory(), "aurelo-update-").empty();
    }
};

TEST_F(PackageSignatureTest, ATamperedPackageIsRefusedBeforeTheArchiveIsOpened) {
    application.bundleLocation = "/usr"; // a package that passes stops short of replacing
    auto genuine = publishBundle(newBundle());
    // Not a zip at all: had the archive reader seen it, the failure would read "无法解压".
    const std::string forged = "PK\x03\x04 not an archive, and not what the release key signed";
    server.route("/updates/AureloTranslator-58.zip",
                 test::ScriptedAnswer::text(200, forged, "application/octet-stream"));
    auto manifest = genuine;
    manifest["sha256"] = sha256::hexOf(forged); // whoever forged it also answers the manifest
    EXPECT_EQ(install(manifest), kRefused);
    EXPECT_TRUE(nothingUnpacked());
}

TEST_F(PackageSignatureTest, EverySignatureButTheReleaseKeysOverThisPackageIsRefused) {
    application.bundleLocation = "/usr";
    fs::path bundle = newBundle();
    auto genuine = publishBundle(bundle);
    const std::string digest = genuine["sha256"];
    auto otherKey = release::generateSigningKey();
    const std::string otherDigest(64, 'a');
    const struct {
        const char* label;
        std::optional<nlohmann::json> signature; // nullopt: the member is left out
    } cases[] = {
        {"left out", std::nullopt},
        {"null", nlohmann::json()},
        {"empty", ""},
        {"another key", release::signPackageDigest(digest, otherKey).value()},
        {"another package", release::signPackageDigest(otherDigest, key).value()},
        {"the bundle's own signature", test::readFile(bundle / kBundleSignatureFileName)},
        {"not base64", "%%%%"},
        {"too short", "AAAA"},
        {"huge", std::string(1 << 20, 'A')},
    };
    for (const auto& c : cases) {
        auto manifest = genuine;
        if (c.signature)
            manifest["packageSignature"] = *c.signature;
        else
            manifest.erase("packageSignature");
        EXPECT_EQ(install(manifest), kRefused) << c.label;
        EXPECT_TRUE(nothingUnpacked()) << c.label;
    }

    // The digest is ours, computed from the file: the manifest's letter case does not matter.
    auto upper = genuine;
    std::string upperDigest = digest;
    for (char& c : upperDigest)
        c = g_ascii_toupper(c);
    upper["sha256"] = upperDigest;
    EXPECT_EQ(install(upper).rfind("安装失败。无法确定当前应用位置。", 0), 0u)
        << manager->alertMessage();
}

TEST_F(PackageSignatureTest, TheReleaseToolAddsAVerifyingSignatureAndKeepsTheOtherMembers) {
    fs::path output = temp.path() / "published";
    auto published = release::publishRelease(newBundle(), key, output, "说明");
    ASSERT_TRUE(published) << published.error();
    auto manifest = nlohmann::json::parse(test::readFile(published->manifest));
    EXPECT_EQ(manifest["version"], "2.0.0");
    EXPECT_EQ(manifest["build"], 58);
    EXPECT_EQ(manifest["downloadPath"], "/updates/" + published->archive.filename().string());
    EXPECT_EQ(manifest["sha256"], sha256::hexOfFile(published->archive).value());
    EXPECT_EQ(manifest["notes"], "说明");
    EXPECT_EQ(manifest["packageSize"], fs::file_size(published->archive));
    ASSERT_TRUE(manifest["packageSignature"].is_string());
    EXPECT_TRUE(verifyPackageSignature(manifest["sha256"].get<std::string>(),
                                       manifest["packageSignature"].get<std::string>(),
                                       *publicKey));
    EXPECT_FALSE(verifyPackageSignature(manifest["sha256"].get<std::string>(),
                                        manifest["packageSignature"].get<std::string>(),
                                        test::publicKeyOf(release::generateSigningKey())));
}

class FinalCopyTest : public test::UpdateManagerFixture {
protected:
    FinalCopyTest() {
        staged = newBundle();
        EXPECT_TRUE(release::signBundle(staged, key));
        current = applicationsFolder() / "Aurelo翻译器.app";
    }

    installer::Step<installer::ReplacementPlan> copy() {
        return installer::copyBesideRunningBundle(staged, current, "bin/aurelo-translator",
                                                  "bin/aurelo-translator", publicKey);
    }

    std::vector<fs::path> copiesBeside() {
        return entriesStartingWith(applicationsFolder(), ".AureloTranslator-new-");
    }

    fs::path staged;
    fs::path current;
};

TEST_F(FinalCopyTest, TheCopyThatWillBeSwappedInIsCheckedAndRemovedWhenItFails) {
    auto plan = copy();
    ASSERT_TRUE(plan);
    EXPECT_TRUE(verifyBundleSignature(plan->newBundle, *publicKey));
    fs::remove_all(plan->newBundle);

    // The staged copy changed while it waited in the temporary folder.
    test::writeFile(staged / "bin/aurelo-translator", "#!/bin/sh\necho replaced\n");
    auto refused = copy();
    ASSERT_FALSE(refused);
    EXPECT_EQ(describeUpdateFailure(refused.error()), kRefused);
    EXPECT_TRUE(copiesBeside().empty());

    // A copy cut short (here by a file that cannot be copied) leaves nothing half made.
    ASSERT_TRUE(release::signBundle(staged, key));
    ASSERT_EQ(mkfifo((staged / "share/aurelo-translator/pipe").c_str(), 0600), 0);
    auto failed = copy();
    ASSERT_FALSE(failed);
    EXPECT_TRUE(std::holds_alternative<SystemError>(failed.error()));
    EXPECT_TRUE(copiesBeside().empty());
}

} // namespace
} // namespace aurelo
