#pragma once

// Unpacks an update package (a zip archive) into a folder without trusting it: every entry must
// land inside the folder, links may only point inside it, nothing existing is overwritten, and
// the number and size of entries are bounded.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

namespace aurelo {

struct ExtractionLimits {
    std::uint64_t maximumEntries = 100'000;
    std::uint64_t maximumFileSize = std::uint64_t{1} << 30;  // 1 GiB
    std::uint64_t maximumTotalSize = std::uint64_t{4} << 30; // 4 GiB
};

// Unpacks `archive` into the existing folder `destination`. The error is a reason for the log;
// whatever the reason, the package counts as one that cannot be expanded. Entries written before
// a failure stay where they are.
std::expected<void, std::string> expandPackage(const std::filesystem::path& archive,
                                               const std::filesystem::path& destination,
                                               const ExtractionLimits& limits = {});

} // namespace aurelo
