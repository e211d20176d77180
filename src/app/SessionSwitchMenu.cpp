#include "app/SessionSwitchMenu.hpp"

namespace aurelo {

namespace {

struct ShortcutItem {
    std::string sessionID;
    std::string title;       // "1. 客服一"
    std::string accelerator; // "<Primary>1"
};

// The first nine sessions, in list order.
std::vector<ShortcutItem> shortcutItems(const std::vector<ChatSession>& sessions) {
    std::vector<ShortcutItem> items;
    for (std::size_t i = 0; i < sessions.size() && i < 9; ++i) {
        const std::string digit = std::to_string(i + 1);
        items.push_back({sessions[i].id, digit + ". " + sessions[i].name, "<Primary>" + digit});
    }
    return items;
}

} // namespace

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
    for (const auto& item : shortcutItems(sessions)) {
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
