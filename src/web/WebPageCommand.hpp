#pragma once

#include "models/WebPageCommand.hpp"

#include <string>

namespace aurelo {

// "window.aureloTranslatePage?.()" or "window.aureloRestorePage?.()".
std::string pageCommandScript(WebPageCommand::Action action);

// The insertion script: the head, the text as a one-element JSON array, then the fixed body
// (a resource of this library), which reads the text back with "[0]".
std::string textInsertionScript(const std::string& text);

// The fixed body of the insertion script, beginning with "[0];".
const std::string& textInsertionBody();

// The page script every hosted page runs, with its placeholders still in it.
const std::string& pageScriptTemplate();

} // namespace aurelo
