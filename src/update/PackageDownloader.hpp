#pragma once

// Downloads an update package into a private temporary file through a libsoup session, in
// pieces, reporting progress on the main loop.

#include "platform/HttpSession.hpp"
#include "update/UpdateError.hpp"

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace aurelo {

// No release comes anywhere near this; a larger answer is not our package.
inline constexpr std::uint64_t kMaximumPackageSize = std::uint64_t{2} << 30; // 2 GiB

struct DownloadRequest {
    std::string url;
    // Where the temporary file is created (mode 0600).
    std::filesystem::path directory;
    std::uint64_t maximumSize = kMaximumPackageSize;
};

using DownloadProgress =
    std::function<void(std::uint64_t received, std::optional<std::uint64_t> total)>;
// The temporary file on success; it belongs to the caller from then on. On failure the
// temporary file is already removed.
using DownloadCompletion = std::function<void(std::expected<std::filesystem::path, UpdateFailure>)>;

// Starts the download; `completion` runs exactly once on the main loop, never from inside this
// call. A transport failure ends with that TransportError, a body larger than the limit (announced
// or as it arrives) with ResponseTooLarge; an answer other than 200 or a redirect ends with
// downloadFailed; a file that cannot be written with a
// SystemError. Cancelling `cancellable` ends it with a Cancelled TransportError.
void downloadPackage(HttpSession& session, DownloadRequest request, DownloadProgress progress,
                     DownloadCompletion completion, GCancellable* cancellable);

} // namespace aurelo
