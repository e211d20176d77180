#include "views/Theme.hpp"

#include <gdkmm/display.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/settings.h>
#include <gtkmm/stylecontext.h>

namespace aurelo::Theme {

namespace {

// Colours: the sidebar is the deep navy of the brand (sRGB 0.075, 0.082, 0.15), gold is
// #D4AF37. Everything else follows the light or dark variant of the desktop theme, so text
// keeps its contrast in both.
constexpr const char* kStyleSheet = R"css(
.aurelo-sidebar {
  background-color: rgb(19, 21, 38);
  color: #F5F1E6;
}
.aurelo-sidebar button {
  color: #F5F1E6;
  background: transparent;
  border: none;
  box-shadow: none;
  border-radius: 14px;
  padding: 8px 4px;
}
.aurelo-sidebar button:hover { background-color: alpha(#D4AF37, 0.14); }
.aurelo-sidebar button.selected {
  background-color: alpha(#D4AF37, 0.24);
  box-shadow: inset 0 0 0 1px alpha(#D4AF37, 0.7);
}
.aurelo-sidebar .caption { color: alpha(#F5F1E6, 0.6); font-size: 11px; }
.aurelo-sidebar .sidebar-label { font-size: 11px; }
.aurelo-gold { color: #D4AF37; }
.aurelo-title { font-weight: 800; font-size: 20px; }
.aurelo-pro {
  background-color: #D4AF37;
  color: #14162A;
  border-radius: 999px;
  padding: 0 7px;
  font-size: 10px;
  font-weight: 800;
}
.aurelo-subtitle { opacity: 0.65; font-size: 12px; }
.aurelo-placeholder { opacity: 0.45; }
/* The theme's own red for flat destructive buttons is too dark to read on a dark menu. */
popover button.aurelo-menu-destructive { color: #E5484D; font-weight: normal; padding: 0 10px; min-height: 28px; }
popover button.aurelo-menu-destructive:selected { background-color: alpha(#E5484D, 0.14); }
.aurelo-session-bar { padding: 10px 14px 6px 14px; border-bottom: 1px solid alpha(currentColor, 0.08); }
.aurelo-session-bar.aurelo-tab-row-only { padding-top: 4px; padding-bottom: 2px; }
.aurelo-tab {
  border-radius: 12px;
  padding: 6px 10px;
  border: 1px solid alpha(currentColor, 0.12);
  background-color: alpha(currentColor, 0.03);
}
.aurelo-tab.selected {
  border-color: #D4AF37;
  background-color: alpha(#D4AF37, 0.16);
}
.aurelo-tab-name { font-weight: 600; font-size: 15px; }
.aurelo-health-dot { font-size: 9px; }
.aurelo-health-dot.error { color: #E5484D; }
.aurelo-health-dot.warning { color: #F5A623; }
.aurelo-memory-note { color: #B7791F; }
.aurelo-memory-bar {
  padding: 6px 12px;
  background-color: alpha(#F5A623, 0.18);
  border-bottom: 1px solid alpha(#F5A623, 0.5);
}
.aurelo-badge {
  background-color: #E5484D;
  color: white;
  border-radius: 999px;
  font-size: 10px;
  font-weight: 700;
  padding: 0 5px;
  min-width: 10px;
}
.aurelo-tab-close { padding: 0; min-width: 18px; min-height: 18px; border-radius: 999px; }
.aurelo-toolbar button { border-radius: 10px; }
.aurelo-toolbar button.active { color: #D4AF37; }
.aurelo-page-functions button { border-radius: 10px; min-width: 30px; }
.aurelo-page-functions button.aurelo-destructive-icon { color: #E5484D; }
button.aurelo-focus-layout.active { color: #D4AF37; border-color: #D4AF37; }
.aurelo-caption-strip { border-left: 1px solid alpha(currentColor, 0.08); }
.aurelo-login-card {
  background-color: alpha(@theme_base_color, 0.92);
  border-radius: 18px;
  padding: 24px;
  box-shadow: 0 10px 40px alpha(black, 0.18);
}
.aurelo-login-background {
  background-image: linear-gradient(135deg, alpha(#3B82F6, 0.12), alpha(#8B5CF6, 0.08), @theme_bg_color);
}
.aurelo-error { color: #E5484D; font-size: 12px; }
.aurelo-note { opacity: 0.5; font-size: 12px; }
.aurelo-notice { color: #C27C0E; font-size: 12px; }
.aurelo-lock-screen { background-color: rgb(19, 21, 38); color: #F5F1E6; }
.aurelo-lock-screen entry { min-width: 280px; }
.aurelo-settings-card {
  border-radius: 14px;
  padding: 16px;
  border: 1px solid alpha(currentColor, 0.1);
  background-color: alpha(currentColor, 0.03);
}
.aurelo-card-title { font-weight: 700; font-size: 15px; }
.aurelo-pill {
  border-radius: 999px;
  padding: 2px 10px;
  font-size: 12px;
  font-weight: 600;
  color: alpha(currentColor, 0.6);
  background-color: alpha(currentColor, 0.08);
}
.aurelo-pill.active { color: #18A058; background-color: alpha(#18A058, 0.16); }
.aurelo-success { color: #18A058; }
.aurelo-settings-panel-header { padding: 18px 24px 12px 24px; }
button.aurelo-primary {
  background-image: none;
  background-color: #D4AF37;
  color: #14162A;
  font-weight: 700;
  border-radius: 10px;
}
button.aurelo-primary:disabled { opacity: 0.5; }
.aurelo-empty-state { opacity: 0.55; }
.aurelo-app-center-tile {
  border-radius: 16px;
  padding: 14px;
  border: 1px solid alpha(currentColor, 0.1);
}
.aurelo-app-center-tile:hover { border-color: #D4AF37; }
.aurelo-info-card {
  border-radius: 12px;
  padding: 12px;
  background-color: alpha(#D4AF37, 0.08);
  border: 1px solid alpha(#D4AF37, 0.25);
}
.aurelo-section-button { border-radius: 10px; padding: 8px 10px; }
.aurelo-section-button:checked { background-color: alpha(#D4AF37, 0.2); color: inherit; }
.aurelo-swatch { border-radius: 999px; padding: 3px; min-width: 0; min-height: 0; }
.aurelo-swatch:checked { box-shadow: 0 0 0 2px #D4AF37; }
.aurelo-ready { color: #18A058; }
)css";

} // namespace

void install() {
    static bool installed = false;
    if (installed)
        return;
    auto display = Gdk::Display::get_default();
    if (!display)
        return;
    auto provider = Gtk::CssProvider::create();
    provider->load_from_data(kStyleSheet);
    Gtk::StyleContext::add_provider_for_display(display, provider,
                                                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    installed = true;
}

void applyAppearance(AppAppearance appearance) {
    auto settings = Gtk::Settings::get_default();
    if (!settings)
        return;
    switch (appearance) {
    case AppAppearance::System:
        // Back to whatever the desktop set; GTK then follows the desktop's own preference.
        settings->reset_property("gtk-application-prefer-dark-theme");
        break;
    case AppAppearance::Light:
        settings->property_gtk_application_prefer_dark_theme() = false;
        break;
    case AppAppearance::Dark:
        settings->property_gtk_application_prefer_dark_theme() = true;
        break;
    }
}

sigc::connection followAppearance(SettingsStore& settings) {
    applyAppearance(settings.appearance());
    return settings.signalChanged().connect([&settings](SettingsStore::Field field) {
        if (field == SettingsStore::Field::Appearance)
            applyAppearance(settings.appearance());
    });
}

} // namespace aurelo::Theme
