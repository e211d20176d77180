#pragma once

#include "models/ChatLanguage.hpp"
#include "models/SettingsStore.hpp"

#include <sigc++/connection.h>

namespace aurelo::Theme {

// Installs the application's style sheet (the black-gold identity, light and dark) on the
// default display. Safe to call more than once.
void install();

// Follows the settings: the desktop's own choice, or forced light or dark.
void applyAppearance(AppAppearance appearance);

// Applies the stored appearance now and again on every change of it. This is the one writer of
// GTK's dark-theme preference; the web pages take their colour scheme from it.
sigc::connection followAppearance(SettingsStore& settings);

} // namespace aurelo::Theme
