#pragma once

#include "viewmodels/ContentViewModel.hpp"
#include "views/LogoCache.hpp"

#include <giomm/simpleactiongroup.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/popovermenu.h>

#include <optional>

namespace aurelo {

// One account tab: identity icon with the unread badge, the name, a close button that asks
// first, dragging to reorder, and the context menu of page actions.
class SessionTab : public Gtk::Box {
public:
    // The widest name a tab shows, in average character widths; longer names end in "…", and
    // the tab's accessible name keeps the whole name.
    static constexpr int kNameWidthChars = 16;

    SessionTab(ContentViewModel& model, LogoCache& logos, const ChatSession& session,
               bool selected);
    ~SessionTab() override;

    const std::string& sessionID() const { return m_session.id; }

    // Whether a dropped text moves a tab: only session ids do.
    bool acceptDrop(const Glib::ustring& text);

    // Shows the unread count the store has now.
    void refreshBadge();
    // Opens the page menu: by a right click or long press at (x, y), or from the keyboard
    // (Menu, Shift+F10) under the tab when no point is given.
    void popupMenu(std::optional<Gdk::Rectangle> where = std::nullopt);

    Gtk::Button& button() { return m_button; }
    // Whether the keyboard focus is on the tab or its close button.
    bool holdsFocus() { return get_focus_child() != nullptr; }
    Gtk::PopoverMenu& menu() { return m_menu; }
    // The menu's "删除此会话", a button of its own so it can look destructive.
    Gtk::Button& deleteItem() { return m_deleteItem; }

private:
    void buildContextMenu();
    void markDeleteItemWhileFocused();
    void markFocusedItem();

    ContentViewModel& m_model;
    ChatSession m_session;
    Gtk::Button m_button;
    Gtk::Label m_badge;
    Gtk::PopoverMenu m_menu;
    Gtk::Button m_deleteItem;
    Glib::RefPtr<Gio::SimpleActionGroup> m_actions;
};

} // namespace aurelo
