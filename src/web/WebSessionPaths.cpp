#include "web/WebSessionPaths.hpp"

#include "platform/Text.hpp"

#include <cctype>

namespace aurelo {

std::optional<std::string> canonicalSessionId(std::string_view id) {
    if (id.size() != 36)
        return std::nullopt;
    std::string result(id);
    for (std::size_t i = 0; i < result.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const unsigned char c = static_cast<unsigned char>(result[i]);
        if (dash ? c != '-' : !std::isxdigit(c))
            return std::nullopt;
    }
    return text::asciiUppercased(result);
}

namespace {

std::optional<std::filesystem::path> websitesDirectory(const std::filesystem::path& base,
                                                       std::string_view sessionId) {
    auto id = canonicalSessionId(sessionId);
    if (!id || base.empty())
        return std::nullopt;
    return base / "aurelo-translator" / "websites" / *id;
}

} // namespace

std::optional<std::filesystem::path> websiteDataDirectory(const std::filesystem::path& dataHome,
                                                          std::string_view sessionId) {
    return websitesDirectory(dataHome, sessionId);
}

std::optional<std::filesystem::path> websiteCacheDirectory(const std::filesystem::path& cacheHome,
                                                           std::string_view sessionId) {
    return websitesDirectory(cacheHome, sessionId);
}

} // namespace aurelo
