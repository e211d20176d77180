#include "views/FocusLayoutButton.hpp"

#include "views/WidgetHelpers.hpp"

#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>

namespace aurelo {

namespace {

void toggle(MainWindowPreferences& preferences) {
    preferences.setFocusLayout(!preferences.focusLayout());
}

} // namespace

FocusLayoutButton::FocusLayoutButton(MainWindowPreferences& preferences)
    : m_preferences(preferences) {
    add_css_class("aurelo-focus-layout");
    set_valign(Gtk::Align::START);
    signal_clicked().connect([this] { toggle(m_preferences); });
    m_changed = m_preferences.signalChanged().connect([this](MainWindowPreferences::Field field) {
        if (field == MainWindowPreferences::Field::FocusLayout)
            refresh();
    });
    refresh();
}

FocusLayoutButton::~FocusLayoutButton() {
    m_changed.disconnect();
}

void FocusLayoutButton::refresh() {
    // The desktop's own icons: the design's symbol list has none for this.
    const bool focused = m_preferences.focusLayout();
    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name(focused ? "view-restore-symbolic" : "view-fullscreen-symbolic");
    content->append(*icon);
    // While focused this is the way back to everything hidden, so it says so in words.
    if (focused)
        content->append(*Gtk::make_managed<Gtk::Label>(kLeaveTitle));
    set_child(*content);
    const Glib::ustring title = focused ? kLeaveTitle : kTitle;
    setAccessibleLabel(*this, title);
    set_tooltip_text(title + "（" + kShortcutLabel + "）");
    if (focused)
        add_css_class("active");
    else
        remove_css_class("active");
}

void FocusLayoutButton::addShortcut(Gtk::Widget& target, MainWindowPreferences& preferences,
                                    std::function<bool()> locked) {
    auto keys = Gtk::EventControllerKey::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    keys->signal_key_pressed().connect(
        [&preferences, locked = std::move(locked)](guint key, guint, Gdk::ModifierType state) {
            const auto both = Gdk::ModifierType::CONTROL_MASK | Gdk::ModifierType::SHIFT_MASK;
            if ((state & (both | Gdk::ModifierType::ALT_MASK)) != both ||
                gdk_keyval_to_lower(key) != GDK_KEY_f || locked())
                return false;
            toggle(preferences);
            return true;
        },
        false);
    target.add_controller(keys);
}

} // namespace aurelo
