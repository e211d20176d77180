#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace aurelo {

inline constexpr std::string_view kFallbackDownloadName = "WhatsApp 下载";

// The file name a suggested download name becomes. Every "/" turns into "-". Beyond that, a name
// from a web server must neither leave the download folder nor hide there, so control characters
// become "-", leading dots and spaces are dropped ("..", "." and ".bashrc" would otherwise be
// a parent folder, the folder itself or a hidden file), text that is not UTF-8 is repaired and an
// over-long name is shortened (keeping its extension) to what a Linux file system accepts. An
// empty result is "WhatsApp 下载".
std::string downloadFileName(std::string_view suggestedName);

// folder/name, or, while that exists, "base 2.ext", "base 3.ext", … ("README 2" without an
// extension). `exists` is the file-system test, injectable for tests.
std::filesystem::path
freeDownloadPath(const std::filesystem::path& folder, std::string_view suggestedName,
                 const std::function<bool(const std::filesystem::path&)>& exists);

// The user's download folder (XDG), or the temporary folder when there is none.
std::filesystem::path defaultDownloadFolder();

} // namespace aurelo
