#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace aurelo {

// Checks a managed-service origin: an absolute https address without path, query or fragment;
// plain http only for loopback hosts (a service on this machine). Returns the origin without a
// trailing slash, or the message shown at start when it is refused.
std::expected<std::string, std::string> validateServiceOrigin(std::string_view origin);

// The origin from AURELO_SERVICE_URL when set, otherwise the build-time default. Decided once.
// A refused value is reported by aureloServiceURLProblem(); the application refuses to start
// then, so the build-time default it falls back to is never used silently.
const std::string& aureloServiceURL();
const std::string& aureloServiceURLProblem();

// origin + path, for the paths of the service ("/api/translate").
std::string serviceEndpoint(std::string_view origin, std::string_view path);

} // namespace aurelo
