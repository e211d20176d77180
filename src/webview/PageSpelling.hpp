#pragma once

// Spelling in the chat pages' composers, as the account on show wants it.

#include "models/ChatLanguage.hpp"

namespace aurelo {

// WebKit has one spelling checker for the whole process, shared by every page, so the settings
// cannot sit with each page: the account on show puts its own in place whenever its page is
// shown, and only the agent's typing in that page is checked with them.
class PageSpelling {
public:
    // Turns checking on with the dictionaries of `outgoing` and English, or off.
    static void apply(bool enabled, ChatLanguage outgoing);
};

} // namespace aurelo
