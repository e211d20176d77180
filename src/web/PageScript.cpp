#include "web/PageScript.hpp"

#include <cmath>
#include <utility>

namespace aurelo {

namespace {

constexpr double kDefaultFontSize = 16.0;
constexpr double kLargestFontSize = 1000.0;

// Strict serialisation: invalid UTF-8 throws, which we report as "cannot be serialised" rather
// than letting the replacement character change what the page receives.
std::optional<std::string> dumpStrict(const nlohmann::json& value) {
    try {
        return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<std::string> jsonArrayText(std::string_view value) {
    return dumpStrict(nlohmann::json::array({std::string(value)}));
}

std::string stringExpression(std::string_view value) {
    return jsonArrayText(value).value_or("[\"\"]") + "[0]";
}

std::string fontSizeLiteral(double size) {
    if (!std::isfinite(size) || std::fabs(size) > kLargestFontSize)
        size = kDefaultFontSize;
    return std::to_string(static_cast<long long>(std::trunc(size)));
}

std::string fillPageScript(std::string text, const ChatWebViewInputs& inputs) {
    auto boolean = [](bool value) { return std::string(value ? "true" : "false"); };
    // In the order the placeholders are documented; a longer name never starts with a shorter
    // one, so the first match at a position is the right one.
    const std::pair<std::string_view, std::string> replacements[] = {
        {"__SEND_TRANSLATE__", boolean(inputs.automaticMessageTranslation)},
        {"__TRANSLATION_ACTIVE__", boolean(inputs.isActive)},
        {"__RECEIVE_TRANSLATE__", boolean(inputs.receiveTranslationEnabled)},
        {"__TRANSLATION_FONT_SIZE__", fontSizeLiteral(inputs.translationFontSize)},
        {"__TRANSLATION_FONT_COLOR__", stringExpression(inputs.translationFontColor)},
        {"__INPUT_LANGUAGE__", stringExpression(code(inputs.inputLanguage))},
        {"__OUTGOING_LANGUAGE__", stringExpression(code(inputs.outgoingLanguage))},
        {"__INCOMING_LANGUAGE__", stringExpression(code(inputs.incomingLanguage))},
        {"__OWN_MESSAGE_LANGUAGE__", stringExpression(code(inputs.ownMessageLanguage))},
        {"__SEND_AVAILABLE__", boolean(inputs.sendTranslationAvailable)},
        {"__FOLLOW_CONVERSATION__", boolean(inputs.followsConversation)},
    };
    // One pass over the template: a value is never scanned again, so a colour that happens to
    // contain a placeholder name stays the colour's text instead of having a language code
    // spliced into the middle of its JSON string (which would break the whole script).
    std::string result;
    result.reserve(text.size());
    std::size_t position = 0;
    while (position < text.size()) {
        bool replaced = false;
        if (text[position] == '_') {
            for (const auto& [placeholder, value] : replacements) {
                if (std::string_view(text).substr(position, placeholder.size()) == placeholder) {
                    result += value;
                    position += placeholder.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            result += text[position++];
    }
    return result;
}

std::optional<std::string> pageCallScript(std::string_view function,
                                          const nlohmann::json& arguments) {
    auto array = dumpStrict(arguments);
    if (!array)
        return std::nullopt;
    return "window." + std::string(function) + "?.(..." + *array + ")";
}

} // namespace aurelo
