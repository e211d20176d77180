// A signed bundle verifies only while every file, folder and link is exactly as signed.

#include "update/BundleSignature.hpp"
#include "UpdateTestSupport.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace aurelo {
namespace {

namespace fs = std::filesystem;

class BundleSignatureTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle = test::makeBundle(temp.path(), "X.app");
        fs::create_symlink("bin/aurelo-translator", bundle / "start");
        ASSERT_TRUE(release::signBundle(bundle, key));
    }

    test::TestDirectory temp;
    release::SigningKey key = release::generateSigningKey();
    UpdatePublicKey publicKey = test::publicKeyOf(key);
    fs::path bundle;
};

TEST_F(BundleSignatureTest, VerifiesAsSignedEvenAfterACopyAndAnyChangeBreaksIt) {
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
