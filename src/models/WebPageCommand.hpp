#pragma once

// Requests from the window to a page: a whole-page command for the selected page, and text for
// one session's composer. Each carries a fresh id, so that two equal requests in a row are two
// requests.

#include "models/ChatSession.hpp"

#include <string>

namespace aurelo {

struct WebPageCommand {
    enum class Action { TranslateToChinese, Restore };

    std::string id = newSessionID();
    Action action = Action::TranslateToChinese;

    friend bool operator==(const WebPageCommand&, const WebPageCommand&) = default;
};

struct WebTextInsertion {
    std::string id = newSessionID();
    std::string sessionID;
    std::string text;

    friend bool operator==(const WebTextInsertion&, const WebTextInsertion&) = default;
};

} // namespace aurelo
