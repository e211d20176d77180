#pragma once

#include <string>

namespace aurelo {

// A fresh random UUID in canonical upper-case form.
std::string makeUUID();

// A whole-page request from the window to the selected page. The id makes two equal requests in
// a row two requests.
struct WebPageCommand {
    enum class Action { TranslateToChinese, Restore };

    std::string id = makeUUID();
    Action action = Action::TranslateToChinese;

    friend bool operator==(const WebPageCommand&, const WebPageCommand&) = default;
};

// Text from the translation panel for the composer of one session's page.
struct WebTextInsertion {
    std::string id = makeUUID();
    std::string sessionID;
    std::string text;

    friend bool operator==(const WebTextInsertion&, const WebTextInsertion&) = default;
};

// "window.aureloTranslatePage?.()" or "window.aureloRestorePage?.()".
std::string pageCommandScript(WebPageCommand::Action action);

// The insertion script: the head, the text as a one-element JSON array, then the fixed body
// (a resource of this library), which reads the text back with "[0]".
std::string textInsertionScript(const std::string& text);

// The fixed body of the insertion script, beginning with "[0];".
const std::string& textInsertionBody();

} // namespace aurelo
