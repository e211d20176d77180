#include "views/SettingsPanel.hpp"

#include "views/WidgetHelpers.hpp"

#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/separator.h>

namespace aurelo {

SettingsPanel::SettingsPanel(SettingsStore& settings, AccountStore& account, AppLockStore& appLock,
                             NotificationCenter& notifications, std::function<void()> close,
                             QuickReplyStore* quickReplies)
    : Gtk::Box(Gtk::Orientation::VERTICAL),
      m_pages{settings, account, appLock, notifications, quickReplies} {
    add_css_class("background");
    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    header->add_css_class("aurelo-settings-panel-header");
    auto* icon = symbolImage("gearshape.fill", 28);
    icon->add_css_class("aurelo-gold");
    auto* titles = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    titles->set_hexpand(true);
    titles->set_valign(Gtk::Align::CENTER);
    auto* title = Gtk::make_managed<Gtk::Label>("设置");
    title->add_css_class("aurelo-title");
    title->set_halign(Gtk::Align::START);
    auto* line = Gtk::make_managed<Gtk::Label>("翻译、账号与应用升级");
    line->add_css_class("aurelo-subtitle");
    line->set_halign(Gtk::Align::START);
    titles->append(*title);
    titles->append(*line);

    // The update button's title changes with the updater's state; the icon stays.
    auto* updateContent = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    updateContent->append(*symbolImage("arrow.down.app"));
    updateContent->append(m_updateTitle);
    m_updateButton.set_child(*updateContent);
    m_updateButton.set_valign(Gtk::Align::CENTER);
    setIconButtonContent(m_closeButton, "xmark", "关闭");
    m_closeButton.set_valign(Gtk::Align::CENTER);
    m_closeButton.signal_clicked().connect(std::move(close));

    header->append(*icon);
    header->append(*titles);
    header->append(m_updateButton);
    header->append(m_closeButton);
    append(*header);
    append(*Gtk::make_managed<Gtk::Separator>());
}

void SettingsPanel::setUpdateTitle(const Glib::ustring& title) {
    m_updateTitle.set_text(title);
    setAccessibleLabel(m_updateButton, title);
}

void SettingsPanel::setShown(bool shown) {
    if (shown == (m_page != nullptr))
        return;
    if (!shown) {
        remove(*m_page);
        m_page = nullptr;
        return;
    }
    m_page = m_pages.makePage();
    append(*m_page);
}

} // namespace aurelo
