#pragma once

// Login tokens. A token is 32 random bytes in URL-safe base64; the database keeps only its
// SHA-256, so a copy of the database file does not let anyone act as a user.

#include <string>
#include <string_view>

namespace aurelo::service {

// A new random token, or empty when the system's random source fails.
std::string generateAccessToken();

// Lower-case hexadecimal SHA-256 of the token, the form stored and looked up.
std::string hashAccessToken(std::string_view token);

} // namespace aurelo::service
