#include "models/ChatLanguage.hpp"

namespace aurelo {

static_assert(kChatLanguages.size() == 32);
static_assert(code(ChatLanguage::Filipino) == "tl" && code(ChatLanguage::Urdu) == "ur");
static_assert(chatLanguageFromCode("zh-CN") == ChatLanguage::Chinese);

} // namespace aurelo
