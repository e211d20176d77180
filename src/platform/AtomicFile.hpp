#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace aurelo {

// Replaces `path` with `contents` so that a crash, a kill or a power cut at any moment leaves
// either the old file or the new one, never a mixture: the bytes go to a temporary file in the
// same folder, are flushed to the disk, and the temporary file is then renamed over the target.
// The folder is created (mode 0700) when missing. Returns a readable reason on failure, in which
// case the old file is untouched.
std::expected<void, std::string> writeFileAtomically(const std::filesystem::path& path,
                                                     std::string_view contents, mode_t mode = 0600);

// Reads a whole file. An absent file gives an empty optional; any other failure an error.
std::expected<std::optional<std::string>, std::string>
readWholeFile(const std::filesystem::path& path);

// The current UTC time as a compact timestamp for file names ("20261206T071246Z").
std::string utcTimestampForFileName();

// `base` when no file has that name, else the first free "<base>-2", "<base>-3", …: where an
// unreadable file is kept aside without replacing one kept before.
std::filesystem::path unusedFileName(const std::filesystem::path& base);

} // namespace aurelo
