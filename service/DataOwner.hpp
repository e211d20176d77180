#pragma once

// The admin command run as root on a SQLite data folder: SQLite would create the database file,
// and its -wal and -shm files, owned by root, which the service's own user then can neither open
// nor write, so the service stops at its next start. Run as root, the command takes the identity
// of the folder's owner (the service's user) before it opens or makes anything; for a folder not
// yet made, the owner of the nearest folder above it that exists.

#include <expected>
#include <filesystem>
#include <optional>
#include <string>

namespace aurelo::service {

// Not root, or a folder root owns (the service runs as root): nullopt, nothing done. Otherwise the
// name of the owner whose identity the process now has, or why it could not take it.
std::expected<std::optional<std::string>, std::string>
becomeDataOwner(const std::filesystem::path& folder);

} // namespace aurelo::service
