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

} // namespace aurelo
