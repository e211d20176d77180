#pragma once

// Bundle signatures. A release is signed with an Ed25519 key over a listing of everything in
// the bundle — every folder, every file with its SHA-256 and executable bit, every link with
// its target — so a file changed, added or removed after signing breaks the signature. The
// signature sits at the bundle's top as bundle.signature (base64 text) and is the one entry the
// listing leaves out.

#include <array>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

inline constexpr const char* kBundleSignatureFileName = "bundle.signature";

using UpdatePublicKey = std::array<unsigned char, 32>;

// 64 hexadecimal digits; nullopt for anything else.
std::optional<UpdatePublicKey> parseUpdatePublicKey(std::string_view hex);

// The release key compiled into this program; nullopt when the build was configured without
// one, in which case no package verifies.
std::optional<UpdatePublicKey> compiledInUpdatePublicKey();

// The text that is signed. Fails (with a reason for the log) on anything but folders, regular
// files and links, and on files it cannot read.
std::expected<std::string, std::string> bundleContentListing(const std::filesystem::path& bundle);

// Whether bundle.signature is a valid signature by `key` over the bundle's current listing.
bool verifyBundleSignature(const std::filesystem::path& bundle, const UpdatePublicKey& key);

// A package signature signs the package file itself, so that it can be checked before the
// archive is opened: the signed message is the file's SHA-256 as its 32 raw bytes. (No bundle
// listing is 32 bytes long, so neither kind of signature can stand in for the other.)
// nullopt unless `hex` is exactly 64 hexadecimal digits.
std::optional<std::array<unsigned char, 32>> packageSignatureMessage(std::string_view sha256Hex);

// Whether `signatureBase64` (the manifest's "packageSignature") is a valid signature by `key`
// over the package whose SHA-256 is `sha256Hex`. Anything malformed is simply not valid.
bool verifyPackageSignature(std::string_view sha256Hex, std::string_view signatureBase64,
                            const UpdatePublicKey& key);

} // namespace aurelo
