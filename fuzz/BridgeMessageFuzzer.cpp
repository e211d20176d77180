// A page's message to the bridge, as the JSON text WebKit makes of the posted value, decoded and
// answered the way the bridge answers it: the page-call script must carry exactly the values it
// was given, as JSON, so that nothing a page sends can turn into script of its own.

#include "FuzzSupport.hpp"

#include "web/BridgeMessage.hpp"
#include "web/PageScript.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <variant>

namespace {

using aurelo::fuzz::require;
using nlohmann::json;

// The arguments a page-call script passes, read back from its text.
void requireCarries(std::string_view function, const json& arguments) {
    const auto script = aurelo::pageCallScript(function, arguments);
    if (!script)
        return; // Not serialisable (text that is not UTF-8): the answer is dropped.
    const std::string prefix = "window." + std::string(function) + "?.(...";
    require(script->starts_with(prefix) && script->ends_with(")"),
            "a page-call script is not a call of the function");
    const std::string_view inner =
        std::string_view(*script).substr(prefix.size(), script->size() - prefix.size() - 1);
    const json parsed = json::parse(inner, nullptr, /*allow_exceptions=*/false);
    require(!parsed.is_discarded() && parsed == arguments,
            "a page-call script does not carry exactly its arguments");
}

void requireStringExpression(const std::string& value) {
    const std::string expression = aurelo::stringExpression(value);
    require(expression.ends_with("[0]"), "a string expression is not an array's first element");
    const json parsed = json::parse(std::string_view(expression).substr(0, expression.size() - 3),
                                    nullptr, /*allow_exceptions=*/false);
    require(parsed.is_array() && parsed.size() == 1 && parsed[0].is_string(),
            "a string expression is not a one-string array");
    if (aurelo::jsonArrayText(value))
        require(parsed[0] == value, "a string expression changes its text");
}

void answer(const aurelo::TranslationRequest& request) {
    for (const bool failed : {false, true})
        requireCarries("aureloSetTranslation", json::array({request.id, request.text, failed}));
    requireCarries("aureloSetComposerWarm",
                   json::array({request.id, request.target, request.kind, false}));
    requireStringExpression(request.text);

    // A colour from the settings sits in the page script as a string expression; one that holds
    // placeholder names must stay one string.
    aurelo::ChatWebViewInputs inputs;
    inputs.translationFontColor = request.text;
    const std::string filled =
        aurelo::fillPageScript("a=__TRANSLATION_FONT_COLOR__;b=__INPUT_LANGUAGE__;", inputs);
    require(filled.starts_with("a=" + aurelo::stringExpression(request.text) + ";b="),
            "the filled page script does not hold the colour as one string expression");
}

void answer(const aurelo::VoiceRequest& request) {
    requireCarries("aureloSetVoiceTranslation",
                   json::array({request.id, request.source, request.target, false}));
    requireStringExpression(request.data);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    aurelo::fuzz::installGLibLogPolicy();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto message = aurelo::bridgeMessageFromJsonText(aurelo::fuzz::asText(data, size));
    if (const auto* request = std::get_if<aurelo::TranslationRequest>(&message)) {
        require(!request->text.empty(), "a translation request without text was accepted");
        answer(*request);
    } else if (const auto* voice = std::get_if<aurelo::VoiceRequest>(&message)) {
        answer(*voice);
    }
    return 0;
}
