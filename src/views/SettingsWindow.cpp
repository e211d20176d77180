#include "views/SettingsWindow.hpp"

namespace aurelo {

SettingsWindow::SettingsWindow(SettingsStore& settings, AccountStore& account,
                               AppLockStore& appLock, NotificationCenter& notifications,
                               QuickReplyStore* quickReplies)
    : m_pages{settings, account, appLock, notifications, quickReplies} {
    set_title("设置");
    set_default_size(kWidth, kHeight);
    set_resizable(false);
    set_hide_on_close(true);
    signal_hide().connect([this] {
        unset_child();
        m_page = nullptr;
    });
}

void SettingsWindow::showPage() {
    if (!m_page) {
        m_page = m_pages.makePage();
        // A fixed size: the page scrolls inside it.
        m_page->set_size_request(kWidth, kHeight);
        set_child(*m_page);
    }
    present();
}

} // namespace aurelo
