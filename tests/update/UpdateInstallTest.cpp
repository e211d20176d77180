// Installing an update from the local HTTPS service: every way a package is refused. The real
// replacement of a bundle is UpdateEndToEndTest's.

#include "UpdateManagerFixture.hpp"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace aurelo {
namespace {

using test::BundleRecipe;
using test::runMainLoopUntil;
using test::ZipEntry;
using Type = test::ZipEntry::Type;
namespace fs = std::filesystem;

class UpdateInstallTest : public test::UpdateManagerFixture {
protected:
    void expectFailure(const std::string& message) {
        ASSERT_TRUE(manager);
        EXPECT_FALSE(manager->isBusy());
        EXPECT_EQ(manager->buttonTitle(), "升级");
        EXPECT_TRUE(manager->showingAlert());
        EXPECT_EQ(manager->alertTitle(), "升级失败");
        EXPECT_EQ(manager->alertMessage(), message);
        EXPECT_EQ(quitRequests, 0);
        // The running bundle is untouched and nothing was put beside it.
        EXPECT_EQ(entriesStartingWith(applicationsFolder(), ".AureloTranslator-new-").size(), 0u);
        EXPECT_NE(
            test::readFile(applicationsFolder() / "Aurelo翻译器.app/bundle.json").find("\"57\""),
            std::string::npos);
    }

    void installExpectingFailure(const std::string& message) {
        manager.reset();
        quitRequests = 0;
        checkAndInstall();
        expectFailure(message);
    }
};

TEST_F(UpdateInstallTest, RefusesPackageAddressesOffTheRules) {
    auto manifest = publishBundle(newBundle());
    const std::string port = server.origin().substr(server.origin().rfind(':'));
    for (const std::string& path :
         {"http://127.0.0.1" + port + "/updates/AureloTranslator-58.zip",
          "https://localhost" + port + "/updates/AureloTranslator-58.zip",
          std::string("/updates/AureloTranslator-58.ZIP"), std::string("AureloTranslator-58")}) {
        manifest["downloadPath"] = path;
        serveManifest(manifest);
        installExpectingFailure("更新包地址无效。");
    }
    EXPECT_EQ(server.requestCount("/updates/AureloTranslator-58.zip"), 0u);
}

TEST_F(UpdateInstallTest, AnAnswerOtherThan200IsADownloadFailure) {
    auto manifest = publishBundle(newBundle());
    for (unsigned status : {404u, 203u, 302u}) {
        server.route(
            "/updates/AureloTranslator-58.zip",
            test::ScriptedAnswer::text(status, "not the package", "application/octet-stream"));
        installExpectingFailure("更新包下载失败，请稍后重试。");
    }
    EXPECT_TRUE(entriesStartingWith(temporaryDirectory(), "aurelo-update-").empty());
}

TEST_F(UpdateInstallTest, OneChangedByteFailsTheChecksumAndNothingIsUnpacked) {
    publishBundle(newBundle());
    std::string bytes = test::readFile(temp.path() / "AureloTranslator-58.zip");
    bytes[bytes.size() / 2] ^= 0x01;
    server.route("/updates/AureloTranslator-58.zip",
                 test::ScriptedAnswer::text(200, bytes, "application/octet-stream"));
    installExpectingFailure("更新包安全校验失败，已停止安装。");
    EXPECT_TRUE(entriesStartingWith(temporaryDirectory(), "AureloTranslatorUpdate-").empty());
    EXPECT_TRUE(entriesStartingWith(temporaryDirectory(), "aurelo-update-").empty());
}

// A bare file name resolves beside the manifest; the checksum may be in capitals.
TEST_F(UpdateInstallTest, AProgramOutsideABundleIsVerifiedButNotReplaced) {
    auto manifest = publishBundle(newBundle());
    std::string upper = manifest["sha256"];
    std::ranges::transform(upper, upper.begin(), [](char c) { return g_ascii_toupper(c); });
    manifest["sha256"] = upper;
    manifest["downloadPath"] = "AureloTranslator-58.zip";
    serveManifest(manifest);
    application.bundleLocation = "/usr"; // a distribution package
    checkAndInstall();
    EXPECT_EQ(server.requestCount("/updates/AureloTranslator-58.zip"), 1u);
    EXPECT_EQ(manager->alertTitle(), "升级失败");
    EXPECT_EQ(manager->alertMessage(),
              "安装失败。无法确定当前应用位置。\n\n"
              "如果应用是通过系统的软件包管理器安装的，请使用软件包管理器升级。");
    // Verification passed: the staged copy was made before the location was looked at.
    auto staged = entriesStartingWith(temporaryDirectory(), "Aurelo翻译器-待安装-");
    ASSERT_EQ(staged.size(), 1u);
    EXPECT_EQ(staged[0].extension(), ".app");
    EXPECT_TRUE(fs::exists(staged[0] / "bin/aurelo-translator"));
    EXPECT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
}

TEST_F(UpdateInstallTest, ABundleOfAnotherBuildOrIdentityIsRefused) {
    const struct {
        const char* label;
        BundleRecipe recipe;
    } cases[] = {
        {"older build", BundleRecipe{.build = "57"}},
        {"newer build", BundleRecipe{.build = "59"}},
        {"no build", BundleRecipe{.build = ""}},
        {"build text", BundleRecipe{.build = "58a"}},
        {"other identifier", BundleRecipe{.identifier = "com.example.other"}},
        {"identifier case", BundleRecipe{.identifier = "com.aurelo.Translator"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        publishBundle(newBundle(c.recipe));
        installExpectingFailure("更新包安全校验失败，已停止安装。");
    }

    const std::string identity = R"("identifier": "com.aurelo.translator", "build": "58")";
    for (const std::string& info : {
             std::string("{\"identifier\": "),
             std::string("[]"),
             "{" + identity + "}",
             "{" + identity + R"(, "executable": "../../../../bin/sh"})",
             "{" + identity + R"(, "executable": "/bin/sh"})",
             "{" + identity + R"(, "executable": "share/aurelo-translator/notes.txt"})",
             "{" + identity + R"(, "executable": "bin/aurelo-translator", "pad": ")" +
                 std::string(70'000, ' ') + "\"}",
         }) {
        SCOPED_TRACE(info.substr(0, 120));
        fs::path broken = newBundle();
        test::writeFile(broken / "bundle.json", info);
        publishBundle(broken);
        installExpectingFailure("更新包安全校验失败，已停止安装。");
    }
}

TEST_F(UpdateInstallTest, ABundleNotSignedByTheReleaseKeyIsRefused) {
    fs::path bundle = newBundle();
    publishBundle(bundle);
    publicKey = test::publicKeyOf(release::generateSigningKey());
    installExpectingFailure("更新包安全校验失败，已停止安装。");

    // A build without a key trusts nothing, and says why, so that nobody waits for a retry to
    // succeed.
    publicKey.reset();
    installExpectingFailure(std::string("更新包安全校验失败，已停止安装。\n\n") +
                            UpdateManager::kNoReleaseKeyHint);

    publicKey = test::publicKeyOf(key);
    ASSERT_TRUE(release::signBundle(bundle, key));
    test::writeFile(bundle / "share/aurelo-translator/added.txt", "slipped in after signing");
    fs::path zip = temp.path() / "AureloTranslator-58.zip";
    fs::remove(zip);
    ASSERT_TRUE(release::writeBundleArchive(bundle, zip));
    publishZip(zip);
    installExpectingFailure("更新包安全校验失败，已停止安装。");
}

TEST_F(UpdateInstallTest, ArchivesWithoutAnAppDamagedOrEscapingAreRefused) {
    fs::path zip = temp.path() / "package.zip";
    test::writeZip(zip, {{"Aurelo翻译器/bundle.json", Type::File, "{}"},
                         {"readme.txt", Type::File, "no application here"}});
    publishZip(zip);
    installExpectingFailure("更新包中没有找到应用程序。");

    test::writeFile(zip, "PK\x03\x04 this is not really a zip archive");
    publishZip(zip);
    installExpectingFailure("更新包无法解压。");

    fs::remove(zip);
    test::writeZip(zip, {{"Aurelo翻译器.app/bundle.json", Type::File, "{}"},
                         {"../../../evil.txt", Type::File, "escaped"}});
    publishZip(zip);
    installExpectingFailure("更新包无法解压。");
    EXPECT_FALSE(fs::exists(temp.path() / "evil.txt"));
    EXPECT_FALSE(fs::exists(temporaryDirectory() / "evil.txt"));
}

TEST_F(UpdateInstallTest, DoesNothingWithoutAManifestOrWhileBusy) {
    UpdateManager& updater = makeManager();
    updater.downloadAndInstall();
    EXPECT_FALSE(updater.isBusy());
    EXPECT_TRUE(titles.empty());

    publishBundle(newBundle());
    updater.checkForUpdates();
    updater.downloadAndInstall(); // a check is running
    ASSERT_TRUE(runMainLoopUntil([&] { return !updater.isBusy(); }));
    EXPECT_EQ(server.requestCount("/updates/AureloTranslator-58.zip"), 0u);
}

// The running bundle sits in a folder its user cannot write to.
class UnwritableFolderTest : public test::UpdateManagerFixture {
protected:
    void SetUp() override {
        fs::path folder = applicationsFolder();
        if (geteuid() == 0) {
            // Permissions do not stop root; an immutable folder does.
            int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd < 0 || ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 ||
                (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)) {
                if (fd >= 0)
                    close(fd);
                GTEST_SKIP() << "running as root where folders cannot be made immutable";
            }
            close(fd);
            m_immutable = true;
        } else {
            fs::permissions(folder, fs::perms(0555));
        }
    }
    void TearDown() override {
        if (m_immutable) {
            int fd = open(applicationsFolder().c_str(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            ioctl(fd, FS_IOC_GETFLAGS, &flags);
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(fd, FS_IOC_SETFLAGS, &flags);
            close(fd);
        }
        fs::permissions(applicationsFolder(), fs::perms(0755));
    }

    bool m_immutable = false;
};

TEST_F(UnwritableFolderTest, SaysSoAndCopiesNothingBesideTheApplication) {
    publishBundle(newBundle());
    checkAndInstall();
    EXPECT_EQ(manager->alertTitle(), "升级失败");
    EXPECT_EQ(manager->alertMessage(),
              "安装失败。当前应用目录不可写，请将应用移到你有写入权限的应用程序文件夹后再更新。");
    EXPECT_EQ(quitRequests, 0);
    auto entries = entriesStartingWith(applicationsFolder(), "");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].filename(), "Aurelo翻译器.app");
}

} // namespace
} // namespace aurelo
