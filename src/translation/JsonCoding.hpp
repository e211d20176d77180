#pragma once

// Reading and writing the JSON bodies of the managed service. Every malformed body becomes a
// DecodingError here, with a sentence of ours; nothing past this point sees a parser exception.

#include "translation/TranslationError.hpp"

#include <nlohmann/json.hpp>

#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo::json {

using Json = nlohmann::json;

// Parses a body that must be a JSON object.
std::expected<Json, DecodingError> parseObject(std::string_view body);
// Parses any JSON value; nullopt when the text is not JSON.
std::optional<Json> parseValue(std::string_view body);

// A required string member: missing, null or another type is a decoding error.
std::expected<std::string, DecodingError> requiredString(const Json& object, const char* key);
// An optional string member: absent or null gives nullopt; another type is a decoding error.
std::expected<std::optional<std::string>, DecodingError> optionalString(const Json& object,
                                                                        const char* key);
// The string "error" member of an error body, if the body is an object that has one and the
// text is not blank.
std::optional<std::string> errorMessage(std::string_view body);

// Serialises without ever throwing: text that is not valid UTF-8 is sent with U+FFFD in place
// of the broken bytes rather than failing the request.
std::string serialize(const Json& value);

} // namespace aurelo::json
