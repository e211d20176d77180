#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

// <dataHome>/aurelo-translator/websites/<UUID>: the id in canonicalSessionID's form, nothing
// when it is not a UUID (a path, ".."); and <cacheHome>/aurelo-translator/websites/<UUID>.
std::optional<std::filesystem::path> websiteDataDirectory(const std::filesystem::path& dataHome,
                                                          std::string_view sessionId);
std::optional<std::filesystem::path> websiteCacheDirectory(const std::filesystem::path& cacheHome,
                                                           std::string_view sessionId);

} // namespace aurelo
