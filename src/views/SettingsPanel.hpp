#pragma once

// The settings panel over the main window's content: a header with the update button and
// "关闭", a divider, and the settings page, built afresh each time the panel is shown.

#include "views/SettingsPageFactory.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>

#include <functional>

namespace aurelo {

class SettingsPanel : public Gtk::Box {
public:
    SettingsPanel(SettingsStore& settings, AccountStore& account, AppLockStore& appLock,
                  NotificationCenter& notifications, std::function<void()> close,
                  QuickReplyStore* quickReplies = nullptr);

    // The owner binds it to the updater and sets its title.
    Gtk::Button& updateButton() { return m_updateButton; }
    void setUpdateTitle(const Glib::ustring& title);
    Gtk::Button& closeButton() { return m_closeButton; }
    // Shows a new page (which runs its start task) or drops the current one.
    void setShown(bool shown);
    SettingsView* page() { return m_page; }

private:
    SettingsPageFactory m_pages;
    Gtk::Button m_updateButton;
    Gtk::Label m_updateTitle;
    Gtk::Button m_closeButton;
    SettingsView* m_page = nullptr;
};

} // namespace aurelo
