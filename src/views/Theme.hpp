#pragma once

#include "models/ChatLanguage.hpp"

namespace aurelo::Theme {

// Installs the application's style sheet (the black-gold identity, light and dark) on the
// default display. Safe to call more than once.
void install();

// Follows the settings: the desktop's own choice, or forced light or dark.
void applyAppearance(AppAppearance appearance);

} // namespace aurelo::Theme
