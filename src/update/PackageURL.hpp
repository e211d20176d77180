#pragma once

#include "update/UpdateError.hpp"

#include <expected>
#include <string>
#include <string_view>

namespace aurelo {

// Resolves the manifest's "downloadPath" against the manifest's own address and checks it: the
// result must be an absolute https address on exactly the manifest's host whose last path
// segment ends in ".zip" (lower case). Anything else is invalidPackageURL.
std::expected<std::string, UpdateError> resolvePackageURL(std::string_view manifestURL,
                                                          std::string_view downloadPath);

} // namespace aurelo
