// The package is authenticated before the archive is opened, and the bundle in it must be
// this application's next build, exactly as the release key signed it.

#include "UpdateTestSupport.hpp"
#include "update/Sha256.hpp"
#include "update/UpdateInstaller.hpp"

#include <gtest/gtest.h>

#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

namespace aurelo {
namespace {

namespace fs = std::filesystem;
using Type = test::ZipEntry::Type;

constexpr const char* kRefused = "更新包安全校验失败，已停止安装。";
constexpr const char* kIdentifier = "com.aurelo.translator";

class PackageStagingTest : public test::SignedPackageTest {
protected:
    fs::path download() const { return temp.path() / "aurelo-update-1.zip"; }
    fs::path work() const { return temp.path() / "tmp"; }

    installer::Step<installer::StagedUpdate> stage(const std::string& bytes,
                                                   const UpdateManifest& manifest,
                                                   const std::optional<UpdatePublicKey>& trusted) {
        test::writeFile(download(), bytes);
        return installer::verifyAndStage(download(), manifest, work(), kIdentifier, trusted);
    }

    std::string refusal(const std::string& bytes, const UpdateManifest& manifest,
                        const std::optional<UpdatePublicKey>& trusted) {
        auto staged = stage(bytes, manifest, trusted);
        return staged ? "staged" : describeUpdateFailure(staged.error());
    }
};

TEST_F(PackageStagingTest, AGenuinePackageIsStagedWhateverTheChecksumsLetterCase) {
    const std::string bytes = packed(newBundle());
    auto manifest = manifestFor(bytes);
    std::ranges::transform(manifest.sha256, manifest.sha256.begin(), g_ascii_toupper);
    auto staged = stage(bytes, manifest, publicKey);
    ASSERT_TRUE(staged) << describeUpdateFailure(staged.error());
    EXPECT_EQ(staged->stagedCopy.parent_path(), work());
    EXPECT_TRUE(verifyBundleSignature(staged->stagedCopy, publicKey));
    EXPECT_EQ(staged->info.executable, "bin/aurelo-translator");
}

TEST_F(PackageStagingTest, OnlyThisPackageAsTheReleaseKeySignedItIsOpened) {
    const fs::path bundle = newBundle();
    const std::string genuine = packed(bundle);
    const UpdateManifest manifest = manifestFor(genuine);
    std::string changed = genuine;
    changed[changed.size() / 2] ^= 0x01;
    // Not a zip: had the archive reader seen it, the failure would read "无法解压".
    const std::string forged = "PK\x03\x04 not an archive, and not what the release key signed";
    UpdateManifest forgedManifest = manifestFor(forged);
    forgedManifest.packageSignature = manifest.packageSignature;
    const auto signedWith = [&](std::optional<std::string> signature) {
        UpdateManifest copy = manifest;
        copy.packageSignature = std::move(signature);
        return copy;
    };
    const auto otherKey = release::generateSigningKey();
    const struct {
        const char* label;
        std::string bytes;
        UpdateManifest manifest;
        std::optional<UpdatePublicKey> trusted;
    } cases[] = {
        {"one byte changed", changed, manifest, publicKey},
        {"forged, with its own checksum", forged, forgedManifest, publicKey},
        {"no signature", genuine, signedWith(std::nullopt), publicKey},
        {"empty signature", genuine, signedWith(""), publicKey},
        {"another key's signature", genuine,
         signedWith(release::signPackageDigest(manifest.sha256, otherKey).value()), publicKey},
        {"another package's signature", genuine,
         signedWith(release::signPackageDigest(std::string(64, 'a'), key).value()), publicKey},
        {"the bundle's own signature", genuine,
         signedWith(test::readFile(bundle / kBundleSignatureFileName)), publicKey},
        {"not base64", genuine, signedWith("%%%%"), publicKey},
        {"too short", genuine, signedWith("AAAA"), publicKey},
        {"huge", genuine, signedWith(std::string(1 << 20, 'A')), publicKey},
        {"another release key", genuine, manifest, test::publicKeyOf(otherKey)},
        {"no release key", genuine, manifest, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(refusal(c.bytes, c.manifest, c.trusted), kRefused);
        EXPECT_FALSE(fs::exists(download()));
        EXPECT_FALSE(fs::exists(work()));
    }
}

TEST_F(PackageStagingTest, TheBundleMustBeThisApplicationsNextBuildAsSigned) {
    const auto info = [](const std::string& identifier, const std::string& build,
                         const std::string& executable = "bin/aurelo-translator") {
        return R"({"identifier": ")" + identifier + R"(", "build": ")" + build +
               R"(", "executable": ")" + executable + "\"}";
    };
    for (const std::string& text : {
             info(kIdentifier, "57"),
             info(kIdentifier, "59"),
             info(kIdentifier, ""),
             info(kIdentifier, "58a"),
             info("com.example.other", "58"),
             info("com.aurelo.Translator", "58"),
             std::string("{\"identifier\": "),
             std::string("[]"),
             std::string(R"({"identifier": "com.aurelo.translator", "build": "58"})"),
             info(kIdentifier, "58", "../../../../bin/sh"),
             info(kIdentifier, "58", "/bin/sh"),
             info(kIdentifier, "58", "share/aurelo-translator/notes.txt"),
             info(kIdentifier, "58\", \"pad\": \"" + std::string(70'000, ' ')),
         }) {
        SCOPED_TRACE(text.substr(0, 120));
        const fs::path bundle = newBundle();
        test::writeFile(bundle / "bundle.json", text);
        const std::string bytes = packed(bundle);
        EXPECT_EQ(refusal(bytes, manifestFor(bytes), publicKey), kRefused);
    }

    const fs::path noApp = temp.path() / "no-app.zip";
    test::writeZip(noApp, {{"Aurelo翻译器/bundle.json", Type::File, "{}"},
                           {"readme.txt", Type::File, "no application here"}});
    const fs::path addedAfterSigning = newBundle();
    ASSERT_TRUE(release::signBundle(addedAfterSigning, key));
    test::writeFile(addedAfterSigning / "share/aurelo-translator/added.txt", "slipped in");
    const std::pair<std::string, const char*> archives[] = {
        {test::readFile(noApp), "更新包中没有找到应用程序。"},
        {"PK\x03\x04 this is not really a zip archive", "更新包无法解压。"},
        {packed(addedAfterSigning, false), kRefused},
    };
    for (const auto& [bytes, message] : archives)
        EXPECT_EQ(refusal(bytes, manifestFor(bytes), publicKey), message);
}

// The copy beside the running bundle is what the swap moves into place.
TEST_F(PackageStagingTest, TheCopyBesideTheRunningBundleIsCheckedAndRemovedWhenItFails) {
    const fs::path staged = newBundle();
    ASSERT_TRUE(release::signBundle(staged, key));
    const fs::path current = test::makeBundle(temp.path() / "Apps", "Aurelo翻译器.app");
    const auto copy = [&] {
        return installer::copyBesideRunningBundle(staged, current, "bin/aurelo-translator",
                                                  "bin/aurelo-translator", publicKey);
    };
    const auto besideCount = [&] {
        return std::ranges::distance(fs::directory_iterator(current.parent_path()));
    };
    auto plan = copy();
    ASSERT_TRUE(plan);
    EXPECT_TRUE(verifyBundleSignature(plan->newBundle, publicKey));
    EXPECT_TRUE(plan->newBundle.filename().string().starts_with(".AureloTranslator-new-"));
    fs::remove_all(plan->newBundle);

    // The staged copy changed while it waited in the temporary folder.
    test::writeFile(staged / "bin/aurelo-translator", "#!/bin/sh\necho replaced\n");
    auto refused = copy();
    ASSERT_FALSE(refused);
    EXPECT_EQ(describeUpdateFailure(refused.error()), kRefused);
    EXPECT_EQ(besideCount(), 1);

    // A copy cut short (here by a file that cannot be copied) leaves nothing half made.
    ASSERT_TRUE(release::signBundle(staged, key));
    ASSERT_EQ(mkfifo((staged / "share/aurelo-translator/pipe").c_str(), 0600), 0);
    auto failed = copy();
    ASSERT_FALSE(failed);
    EXPECT_TRUE(std::holds_alternative<SystemError>(failed.error()));
    EXPECT_EQ(besideCount(), 1);
}

TEST_F(PackageStagingTest, ABundleVerifiesAsSignedEvenAfterACopyAndAnyChangeBreaksIt) {
    const fs::path bundle = newBundle();
    fs::create_symlink("bin/aurelo-translator", bundle / "start");
    ASSERT_TRUE(release::signBundle(bundle, key));
    const struct {
        const char* change;
        std::function<void(const fs::path&)> apply;
    } changes[] = {
        {"one byte of the program",
         [](const fs::path& b) {
             std::string text = test::readFile(b / "bin/aurelo-translator");
             text[3] ^= 1;
             test::writeFile(b / "bin/aurelo-translator", text, 0755);
         }},
        {"a file added", [](const fs::path& b) { test::writeFile(b / "bin/extra", "x"); }},
        {"a file removed",
         [](const fs::path& b) { fs::remove(b / "share/aurelo-translator/notes.txt"); }},
        {"a folder added", [](const fs::path& b) { fs::create_directory(b / "plugins"); }},
        {"the executable bit dropped",
         [](const fs::path& b) { fs::permissions(b / "bin/aurelo-translator", fs::perms(0644)); }},
        {"a link retargeted",
         [](const fs::path& b) {
             fs::remove(b / "start");
             fs::create_symlink("share", b / "start");
         }},
        {"a link replaced by its file",
         [](const fs::path& b) {
             fs::remove(b / "start");
             fs::copy_file(b / "bin/aurelo-translator", b / "start");
         }},
        {"the signature garbled",
         [](const fs::path& b) { test::writeFile(b / "bundle.signature", "AAAA\n"); }},
        {"the signature removed", [](const fs::path& b) { fs::remove(b / "bundle.signature"); }},
        {"the signature is a link",
         [](const fs::path& b) {
             fs::rename(b / "bundle.signature", b / "sig");
             fs::create_symlink("sig", b / "bundle.signature");
         }},
    };
    EXPECT_TRUE(verifyBundleSignature(bundle, publicKey));
    EXPECT_FALSE(verifyBundleSignature(bundle, test::publicKeyOf(release::generateSigningKey())));
    for (const auto& c : changes) {
        fs::path copy = temp.path() / "changed.app";
        fs::remove_all(copy);
        fs::copy(bundle, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        EXPECT_TRUE(verifyBundleSignature(copy, publicKey)) << "a copy verifies as the original";
        c.apply(copy);
        EXPECT_FALSE(verifyBundleSignature(copy, publicKey)) << c.change;
    }
}

} // namespace
} // namespace aurelo
