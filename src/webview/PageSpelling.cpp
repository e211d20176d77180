#include "webview/PageSpelling.hpp"

#include "web/SpellingDictionaries.hpp"
#include "webview/WebEngineContext.hpp"

#include <vector>

namespace aurelo {

void PageSpelling::apply(bool enabled, ChatLanguage outgoing) {
    WebKitWebContext* context = WebEngineContext::shared();
    if (enabled) {
        const auto tags = spellingDictionaries(outgoing);
        std::vector<const char*> list;
        for (const auto& tag : tags)
            list.push_back(tag.c_str());
        list.push_back(nullptr);
        webkit_web_context_set_spell_checking_languages(context, list.data());
    }
    webkit_web_context_set_spell_checking_enabled(context, enabled);
}

} // namespace aurelo
