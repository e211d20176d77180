#include "translation/JsonCoding.hpp"

#include "platform/Text.hpp"

namespace aurelo::json {

std::optional<Json> parseValue(std::string_view body) {
    Json value = Json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded())
        return std::nullopt;
    return value;
}

std::expected<Json, DecodingError> parseObject(std::string_view body) {
    auto value = parseValue(body);
    if (!value || !value->is_object())
        return std::unexpected(DecodingError::dataCorrupted());
    return std::move(*value);
}

std::expected<std::string, DecodingError> requiredString(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end())
        return std::unexpected(DecodingError::keyNotFound(key));
    if (it->is_null())
        return std::unexpected(DecodingError::valueNotFound(key));
    if (!it->is_string())
        return std::unexpected(DecodingError::typeMismatch(key));
    return it->get<std::string>();
}

std::expected<std::optional<std::string>, DecodingError> optionalString(const Json& object,
                                                                        const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::optional<std::string>();
    if (!it->is_string())
        return std::unexpected(DecodingError::typeMismatch(key));
    return std::optional<std::string>(it->get<std::string>());
}

std::optional<std::string> errorMessage(std::string_view body) {
    auto value = parseValue(body);
    if (!value || !value->is_object())
        return std::nullopt;
    auto it = value->find("error");
    if (it == value->end() || !it->is_string())
        return std::nullopt;
    // A blank text would be shown as an empty error; our own message with the status says more.
    if (text::trimmed(it->get_ref<const std::string&>()).empty())
        return std::nullopt;
    return it->get<std::string>();
}

std::string serialize(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace aurelo::json
