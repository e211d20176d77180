#pragma once

// The update manifest and packages, served read-only from one folder (`<data>/updates/`), where
// the release tool puts "latest.json" and the package it names. Only plain file names directly
// inside that folder are served: no path separators, no leading dot, no symbolic links, only
// regular files; everything else is "not found".

#include "platform/GRef.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace aurelo::service {

bool isSafeUpdateFileName(const std::string& name);

struct UpdateFile {
    GRef<GBytes> contents; // the file mapped into memory, not copied
    std::string contentType;
};

// The file `name` of `directory`, or nullopt when it is not there or not servable.
std::optional<UpdateFile> openUpdateFile(const std::filesystem::path& directory,
                                         const std::string& name);

} // namespace aurelo::service
