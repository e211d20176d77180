#pragma once

#include "web/ChatWebViewInputs.hpp"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

// What a page of a platform without send translation says in its guard label's tooltip and after
// "中文原文禁止直接发送：" when it blocks Chinese; the window's quick-settings strip says the same.
// The page script holds the same text.
inline constexpr std::string_view kSendTranslationUnavailableNote =
    "此平台不支持发送时自动翻译，发出的文字请用下方的智能翻译文框翻译后填入";

// `value` in a one-element JSON array, compact UTF-8; nullopt when it cannot be serialised
// (text that is not valid UTF-8).
std::optional<std::string> jsonArrayText(std::string_view value);

// The script expression that yields `value` as a plain string: the one-element array followed by
// "[0]". Text that cannot be serialised yields the empty string ("[\"\"][0]").
std::string stringExpression(std::string_view value);

// The page script with its eleven placeholders replaced in their fixed order, every occurrence.
std::string fillPageScript(std::string scriptTemplate, const ChatWebViewInputs& inputs);

// The font size as the script receives it: the fraction dropped. A value that is not a finite
// number, or is out of any sensible range, is written as the default size instead of producing
// text that is not a number.
std::string fontSizeLiteral(double size);

// "window.<function>?.(...<arguments>)" with the arguments as compact JSON; nullopt when they
// cannot be serialised, in which case the answer is dropped.
std::optional<std::string> pageCallScript(std::string_view function,
                                          const nlohmann::json& arguments);

} // namespace aurelo
