#pragma once

// Bundles, keys and archives for the updater's tests, all inside temporary folders.

#include "ReleasePackager.hpp"
#include "support/TestDirectory.hpp"
#include "update/BundleSignature.hpp"
#include "update/UpdateManifest.hpp"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace aurelo::test {

namespace fs = std::filesystem;

// <folder>/<name>: build 58 of this application, with bundle.json, bin/aurelo-translator and a
// resource file.
fs::path makeBundle(const fs::path& folder, const std::string& name);

// The public key of a signing key, as a release build compiles it in.
inline UpdatePublicKey publicKeyOf(const release::SigningKey& key) {
    return parseUpdatePublicKey(release::publicKeyHex(key)).value();
}

// A zip holding exactly these entries, for archives that no release would contain.
struct ZipEntry {
    enum class Type { File, Directory, Link };
    ZipEntry(std::string name, Type type = Type::File, std::string data = {}, mode_t perm = 0644)
        : name(std::move(name)), type(type), data(std::move(data)), perm(perm) {}

    std::string name;
    Type type = Type::File;
    std::string data; // file contents, or the link's target
    mode_t perm = 0644;
};
void writeZip(const fs::path& zip, const std::vector<ZipEntry>& entries);

// A release key made for the test, and bundles signed and packed with it as the release tool does.
class SignedPackageTest : public ::testing::Test {
protected:
    // A fresh, unsigned bundle of build 58 in <temp>/release.
    fs::path newBundle();
    // The archive's bytes; `sign` false packs the bundle with whatever signature it has.
    std::string packed(const fs::path& bundle, bool sign = true);
    // A manifest of build 58 for `bytes`, with the release key's package signature.
    UpdateManifest manifestFor(const std::string& bytes);

    TestDirectory temp;
    release::SigningKey key = release::generateSigningKey();
    UpdatePublicKey publicKey = publicKeyOf(key);
};

} // namespace aurelo::test
