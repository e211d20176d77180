#include "web/BridgeMessage.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

namespace aurelo {

namespace {

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

bool isString(const nlohmann::json* value) {
    return value && value->is_string();
}

int truncatedCount(const nlohmann::json& count) {
    if (count.is_number_integer()) {
        // Unsigned and signed 64-bit integers both fit in long double without surprises here;
        // only the clamp to int matters.
        if (count.is_number_unsigned())
            return count.get<unsigned long long>() > static_cast<unsigned long long>(INT_MAX)
                       ? INT_MAX
                       : static_cast<int>(count.get<unsigned long long>());
        const long long value = count.get<long long>();
        return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
    }
    const double value = std::trunc(count.get<double>());
    if (!std::isfinite(value))
        return value < 0 ? INT_MIN : INT_MAX;
    return static_cast<int>(
        std::clamp(value, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

} // namespace

BridgeMessage bridgeMessageFromJson(const nlohmann::json& body) {
    if (!body.is_object())
        return IgnoredMessage{};

    const auto* kind = member(body, "kind");
    const bool kindIsString = isString(kind);

    if (kindIsString && kind->get_ref<const std::string&>() == "unread") {
        const auto* count = member(body, "count");
        if (count && count->is_number())
            return UnreadReport{truncatedCount(*count)};
    }

    if (kindIsString && kind->get_ref<const std::string&>() == "login") {
        const auto* loggedOut = member(body, "loggedOut");
        if (loggedOut && loggedOut->is_boolean())
            return LoginReport{loggedOut->get<bool>()};
        return MalformedMessage{};
    }

    if (kindIsString && kind->get_ref<const std::string&>() == "messages") {
        const auto* recognised = member(body, "recognised");
        if (recognised && recognised->is_boolean())
            return MessageRecognitionReport{recognised->get<bool>()};
        return MalformedMessage{};
    }

    const auto* id = member(body, "id");
    if (kindIsString && kind->get_ref<const std::string&>() == "conversation") {
        if (id && id->is_null())
            return ConversationReport{};
        if (isString(id) && !id->get_ref<const std::string&>().empty() &&
            id->get_ref<const std::string&>().size() <=
                ConversationReport::kMaximumConversationBytes)
            return ConversationReport{id->get<std::string>()};
        return MalformedMessage{};
    }

    if (kindIsString && kind->get_ref<const std::string&>() == "voice") {
        const auto* data = member(body, "data");
        const auto* mime = member(body, "mime");
        if (isString(id) && isString(data) && isString(mime)) {
            VoiceRequest request{id->get<std::string>(), data->get<std::string>(),
                                 mime->get<std::string>()};
            if (const auto* source = member(body, "source"); isString(source))
                request.source = source->get<std::string>();
            if (const auto* target = member(body, "target"); isString(target))
                request.target = target->get<std::string>();
            return request;
        }
    }

    const auto* text = member(body, "text");
    const auto* target = member(body, "target");
    if (!isString(id) || !isString(text) || text->get_ref<const std::string&>().empty() ||
        !isString(target))
        return MalformedMessage{};

    TranslationRequest request{id->get<std::string>(), text->get<std::string>(),
                               target->get<std::string>()};
    if (kindIsString)
        request.kind = kind->get<std::string>();
    if (const auto* conversation = member(body, "conversation");
        isString(conversation) && !conversation->get_ref<const std::string&>().empty() &&
        conversation->get_ref<const std::string&>().size() <=
            ConversationReport::kMaximumConversationBytes)
        request.conversation = conversation->get<std::string>();
    return request;
}

BridgeMessage bridgeMessageFromJsonText(std::string_view text) {
    auto value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded())
        return IgnoredMessage{};
    return bridgeMessageFromJson(value);
}

} // namespace aurelo
