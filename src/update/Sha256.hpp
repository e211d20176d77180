#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace aurelo::sha256 {

// 64 lower-case hexadecimal digits.
std::string hexOf(std::string_view bytes);

// Hashes a file in pieces without loading it whole. The error is an errno value.
std::expected<std::string, int> hexOfFile(const std::filesystem::path& path);

// Whether `hex` is the same digest as `lowerHex` regardless of letter case.
bool sameDigest(std::string_view lowerHex, std::string_view hex);

} // namespace aurelo::sha256
