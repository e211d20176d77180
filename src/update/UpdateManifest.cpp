#include "update/UpdateManifest.hpp"

#include "translation/JsonCoding.hpp"

#include <charconv>
#include <limits>

namespace aurelo {

namespace {

std::expected<std::int64_t, DecodingError> requiredInteger(const json::Json& object,
                                                           const char* key) {
    auto it = object.find(key);
    if (it == object.end())
        return std::unexpected(DecodingError::keyNotFound(key));
    if (it->is_null())
        return std::unexpected(DecodingError::valueNotFound(key));
    if (it->is_number_unsigned()) {
        auto value = it->get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::unexpected(DecodingError::typeMismatch(key));
        return static_cast<std::int64_t>(value);
    }
    if (it->is_number_integer())
        return it->get<std::int64_t>();
    return std::unexpected(DecodingError::typeMismatch(key));
}

} // namespace

std::expected<UpdateManifest, DecodingError> decodeUpdateManifest(std::string_view body) {
    auto object = json::parseObject(body);
    if (!object)
        return std::unexpected(object.error());
    auto version = json::requiredString(*object, "version");
    if (!version)
        return std::unexpected(version.error());
    auto build = requiredInteger(*object, "build");
    if (!build)
        return std::unexpected(build.error());
    auto downloadPath = json::requiredString(*object, "downloadPath");
    if (!downloadPath)
        return std::unexpected(downloadPath.error());
    auto sha256 = json::requiredString(*object, "sha256");
    if (!sha256)
        return std::unexpected(sha256.error());
    auto notes = json::requiredString(*object, "notes");
    if (!notes)
        return std::unexpected(notes.error());
    UpdateManifest manifest{std::move(*version), *build, std::move(*downloadPath),
                            std::move(*sha256), std::move(*notes)};
    if (auto it = object->find("packageSize"); it != object->end() && !it->is_null()) {
        if (!it->is_number_unsigned())
            return std::unexpected(DecodingError::typeMismatch("packageSize"));
        manifest.packageSize = it->get<std::uint64_t>();
    }
    auto signature = json::optionalString(*object, "packageSignature");
    if (!signature)
        return std::unexpected(signature.error());
    manifest.packageSignature = std::move(*signature);
    return manifest;
}

std::optional<std::int64_t> parseDecimalInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // from_chars would accept a second sign after ours; only digits may follow.
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!negative && magnitude > kMax)
        return std::nullopt;
    if (negative && magnitude > kMax + 1)
        return std::nullopt;
    if (negative)
        return magnitude == kMax + 1 ? std::numeric_limits<std::int64_t>::min()
                                     : -static_cast<std::int64_t>(magnitude);
    return static_cast<std::int64_t>(magnitude);
}

std::int64_t runningBuildNumber(const std::optional<std::string>& buildText) {
    return parseDecimalInteger(buildText.value_or("0")).value_or(0);
}

} // namespace aurelo
