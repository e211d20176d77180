#pragma once

// What the release tool does: make and read the release signing key, sign a bundle, pack it as
// an update package and write the manifest the managed service publishes.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;

namespace aurelo::release {

namespace fs = std::filesystem;

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const;
};
using SigningKey = std::unique_ptr<EVP_PKEY, KeyDeleter>;

SigningKey generateSigningKey();
// Writes the private key as PEM, readable by its owner only; never replaces an existing file.
std::expected<void, std::string> writePrivateKey(const SigningKey& key, const fs::path& path);
std::expected<SigningKey, std::string> readPrivateKey(const fs::path& path);
// The public half as 64 hexadecimal digits, the form the build takes it in.
std::string publicKeyHex(const SigningKey& key);

// Writes bundle.signature into the bundle: the key's signature over the bundle's listing.
std::expected<void, std::string> signBundle(const fs::path& bundle, const SigningKey& key);

// The manifest's "packageSignature": base64 of the key's signature over the package's SHA-256
// (given as 64 hexadecimal digits), the form the updater checks before it opens the archive.
std::expected<std::string, std::string> signPackageDigest(const std::string& sha256Hex,
                                                          const SigningKey& key);

// Packs the bundle folder into a zip whose single top-level entry is the bundle, keeping
// executable bits and links.
std::expected<void, std::string> writeBundleArchive(const fs::path& bundle, const fs::path& zip);

struct PublishedRelease {
    fs::path archive;
    fs::path manifest;
    std::string version;
    long long build = 0;
    std::string sha256;
    std::uint64_t size = 0;
    std::string packageSignature;
};

// Signs a copy of `bundle`, packs it as <output>/AureloTranslator-<version>-<build>.zip and
// writes <output>/latest.json pointing at "/updates/<zip name>", with the package's size and
// signature added to the five members every updater reads.
std::expected<PublishedRelease, std::string> publishRelease(const fs::path& bundle,
                                                            const SigningKey& key,
                                                            const fs::path& output,
                                                            const std::string& notes);

} // namespace aurelo::release
