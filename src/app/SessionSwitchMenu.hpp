#pragma once

#include "models/ChatSession.hpp"

#include <giomm/menu.h>
#include <gtkmm/application.h>

#include <vector>

namespace aurelo {

// The "多开快捷切换" menu: the first nine sessions, each on `<Primary>1` … `<Primary>9`,
// activating "app.show-session" with the session's id.
class SessionSwitchMenu {
public:
    // The menu bar holding the menu for `sessions`. The accelerators of the previous items are
    // withdrawn first, so that after a reorder each key reaches exactly one session.
    Glib::RefPtr<Gio::Menu> rebuild(Gtk::Application& application,
                                    const std::vector<ChatSession>& sessions);

    // The detailed action an item activates.
    static Glib::ustring actionFor(const std::string& sessionID);

private:
    std::vector<Glib::ustring> m_actions;
};

} // namespace aurelo
