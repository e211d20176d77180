#pragma once

// The application's settings window: 620 × 640, not resizable, one per application. Every
// showing builds a new settings page, which runs its start task; hiding drops the page, so
// nothing typed into it outlives the window.

#include "views/SettingsPageFactory.hpp"

#include <gtkmm/window.h>

namespace aurelo {

class SettingsWindow : public Gtk::Window {
public:
    static constexpr int kWidth = 620;
    static constexpr int kHeight = 640;

    SettingsWindow(SettingsStore& settings, AccountStore& account, AppLockStore& appLock,
                   NotificationCenter& notifications, QuickReplyStore* quickReplies = nullptr);

    // Presents the window; when it was hidden, with a new page.
    void showPage();
    SettingsView* page() { return m_page; }

private:
    SettingsPageFactory m_pages;
    SettingsView* m_page = nullptr;
};

} // namespace aurelo
