#include "app/SessionSwitchMenu.hpp"

#include "viewmodels/ShellRules.hpp"

namespace aurelo {

Glib::ustring SessionSwitchMenu::actionFor(const std::string& sessionID) {
    return "app.show-session(" + Glib::Variant<Glib::ustring>::create(sessionID).print() + ")";
}

Glib::RefPtr<Gio::Menu> SessionSwitchMenu::rebuild(Gtk::Application& application,
                                                   const std::vector<ChatSession>& sessions) {
    for (const auto& action : m_actions)
        application.unset_accels_for_action(action);
    m_actions.clear();

    auto menubar = Gio::Menu::create();
    auto items = Gio::Menu::create();
    for (const auto& item : sessionShortcutItems(sessions)) {
        const Glib::ustring action = actionFor(item.sessionID);
        auto menuItem = Gio::MenuItem::create(item.title, action);
        menuItem->set_attribute_value("accel",
                                      Glib::Variant<Glib::ustring>::create(item.accelerator));
        items->append_item(menuItem);
        application.set_accel_for_action(action, item.accelerator);
        m_actions.push_back(action);
    }
    menubar->append_submenu("多开快捷切换", items);
    return menubar;
}

} // namespace aurelo
