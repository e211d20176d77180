#pragma once

#include "viewmodels/ContentViewModel.hpp"
#include "views/LogoCache.hpp"

#include <giomm/simpleactiongroup.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/popovermenu.h>

namespace aurelo {

// One account tab: identity icon with the unread badge, the name, a close button that asks
// first, dragging to reorder, and the context menu of page actions.
class SessionTab : public Gtk::Box {
public:
    SessionTab(ContentViewModel& model, LogoCache& logos, const ChatSession& session,
               bool selected);
    ~SessionTab() override;

    const std::string& sessionID() const { return m_session.id; }

    // Whether a dropped text moves a tab: only session ids do.
    bool acceptDrop(const Glib::ustring& text);

private:
    void buildContextMenu();

    ContentViewModel& m_model;
    ChatSession m_session;
    Gtk::Button m_button;
    Gtk::Label m_badge;
    Gtk::PopoverMenu m_menu;
    Glib::RefPtr<Gio::SimpleActionGroup> m_actions;
};

} // namespace aurelo
