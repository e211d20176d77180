#pragma once

// The manifest the managed service publishes at /updates/latest.json, and the build numbers it
// is compared with.

#include "translation/TranslationError.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

struct UpdateManifest {
    std::string version;
    std::int64_t build = 0;
    std::string downloadPath;
    std::string sha256;
    std::string notes;
    // Added by newer release tools; manifests without them still decode. The package's length in
    // bytes, the most a download may bring.
    std::optional<std::uint64_t> packageSize = std::nullopt;
    // Base64 of the release key's Ed25519 signature over the package's 32-byte SHA-256.
    std::optional<std::string> packageSignature = std::nullopt;

    friend bool operator==(const UpdateManifest&, const UpdateManifest&) = default;
};

// The five original keys are required; a missing key, a null or a value of another type is a
// decoding error. "build" must be a whole number that fits 64 bits. "packageSize" (a whole
// number, not negative) and "packageSignature" (a string) may be absent or null; present with
// another type they are decoding errors too.
std::expected<UpdateManifest, DecodingError> decodeUpdateManifest(std::string_view body);

// A decimal integer with an optional leading sign and nothing else: no spaces, no fraction.
// nullopt when the text does not convert or does not fit 64 bits.
std::optional<std::int64_t> parseDecimalInteger(std::string_view text);

// The running build number as the update check reads it: absent or unreadable counts as 0.
std::int64_t runningBuildNumber(const std::optional<std::string>& buildText);

} // namespace aurelo
