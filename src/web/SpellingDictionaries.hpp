#pragma once

// The spelling dictionaries a chat page's composer is checked against: the language the agent
// writes to the customer in, and English.

#include "models/ChatLanguage.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

// English: the agent's second language in every account, and the dictionary that is always there.
inline constexpr std::string_view kEnglishDictionary = "en_US";

// The Enchant dictionary tags for `language`, as Debian's hunspell-* packages name their files;
// empty for a language without a dictionary there (Chinese, Japanese, Finnish, Malay, Filipino,
// Urdu) or for automatic detection.
std::vector<std::string> dictionariesFor(ChatLanguage language);

// The dictionaries of a page whose account writes in `outgoing`: its own first, then English,
// each once. WebKit skips a tag whose dictionary is not installed.
std::vector<std::string> spellingDictionaries(ChatLanguage outgoing);

} // namespace aurelo
