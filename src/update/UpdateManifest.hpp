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

    friend bool operator==(const UpdateManifest&, const UpdateManifest&) = default;
};

// All five keys are required; a missing key, a null or a value of another type is a decoding
// error. "build" must be a whole number that fits 64 bits.
std::expected<UpdateManifest, DecodingError> decodeUpdateManifest(std::string_view body);

// A decimal integer with an optional leading sign and nothing else: no spaces, no fraction.
// nullopt when the text does not convert or does not fit 64 bits.
std::optional<std::int64_t> parseDecimalInteger(std::string_view text);

// The running build number as the update check reads it: absent or unreadable counts as 0.
std::int64_t runningBuildNumber(const std::optional<std::string>& buildText);

} // namespace aurelo
