#include "web/WebSessionPaths.hpp"

#include "models/ChatSession.hpp"

namespace aurelo {

namespace {

std::optional<std::filesystem::path> websitesDirectory(const std::filesystem::path& base,
                                                       std::string_view sessionId) {
    auto id = canonicalSessionID(sessionId);
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
