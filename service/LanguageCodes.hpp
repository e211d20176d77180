#pragma once

// Conversions between the client's language codes ("en", "zh-CN", "no", ...) and the codes each
// upstream service uses, and back for the source languages they detect.

#include <optional>
#include <string>
#include <string_view>

namespace aurelo::service {

// Whether `code` is shaped like a language tag ("en", "zh-CN", "sr-Latn"): ASCII letters,
// digits and hyphens, 2 to 16 characters. Anything else is refused before it reaches an
// upstream URL or prompt.
bool isPlausibleLanguageCode(std::string_view code);

// The English name of a client language code, for prompts ("zh-CN" -> "Simplified Chinese");
// the code itself when it is not in the client's table.
std::string languageName(std::string_view code);

// The client's code for a code an upstream service reported ("EN-US" -> "en", "zh-Hans" ->
// "zh-CN", "iw" -> "he", "nb" -> "no"); nullopt for what is not a language code.
std::optional<std::string> clientLanguageCode(std::string_view reported);

// The Chinese name of a client language code ("es" -> "西班牙语"), for messages to users.
std::string chineseLanguageName(std::string_view code);

std::string deeplTargetLanguage(std::string_view code);
std::string microsoftLanguage(std::string_view code);

// Apertium names its languages with three-letter codes ("eng", "spa").
std::optional<std::string> apertiumLanguage(std::string_view clientCode);
std::optional<std::string> clientCodeForApertium(std::string_view apertiumCode);

} // namespace aurelo::service
