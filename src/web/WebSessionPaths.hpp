#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

// A session id in the canonical upper-case UUID form, or nullopt when `id` is not a UUID. The id
// becomes a directory name, so anything else (a path, "..") is refused here.
std::optional<std::string> canonicalSessionId(std::string_view id);

// <dataHome>/aurelo-translator/websites/<UUID> and <cacheHome>/aurelo-translator/websites/<UUID>.
std::optional<std::filesystem::path> websiteDataDirectory(const std::filesystem::path& dataHome,
                                                          std::string_view sessionId);
std::optional<std::filesystem::path> websiteCacheDirectory(const std::filesystem::path& cacheHome,
                                                           std::string_view sessionId);

} // namespace aurelo
