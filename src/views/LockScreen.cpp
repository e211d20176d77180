#include "views/LockScreen.hpp"

#include "platform/BuildConfig.hpp"
#include "views/WidgetHelpers.hpp"

#include <gtkmm/button.h>
#include <gtkmm/image.h>

namespace aurelo {

LockScreen::LockScreen(ContentViewModel& model)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 14), m_model(model) {
    add_css_class("aurelo-lock-screen");
    set_hexpand(true);
    set_vexpand(true);
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 14);
    column->set_valign(Gtk::Align::CENTER);
    column->set_halign(Gtk::Align::CENTER);
    column->set_vexpand(true);

    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name(build::kApplicationId);
    icon->set_pixel_size(86);
    auto* title = Gtk::make_managed<Gtk::Label>("Aurelo翻译器已锁定");
    title->add_css_class("aurelo-title");
    auto* line = Gtk::make_managed<Gtk::Label>("聊天内容已隐藏");
    line->add_css_class("aurelo-subtitle");
    m_password.set_property("placeholder-text", Glib::ustring("输入个人锁屏密码"));
    setAccessibleLabel(m_password, Glib::ustring("输入个人锁屏密码"));
    onPasswordActivate(m_password, [this] { unlock(); });
    m_message.add_css_class("aurelo-error");
    m_message.set_visible(false);
    auto* button = Gtk::make_managed<Gtk::Button>();
    auto* buttonBox = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    auto* buttonIcon = Gtk::make_managed<Gtk::Image>();
    buttonIcon->set_from_icon_name("changes-allow-symbolic");
    buttonBox->append(*buttonIcon);
    buttonBox->append(*Gtk::make_managed<Gtk::Label>("解锁工作台"));
    button->set_child(*buttonBox);
    button->add_css_class("aurelo-primary");
    setAccessibleLabel(*button, Glib::ustring("解锁工作台"));
    button->signal_clicked().connect([this] { unlock(); });

    for (Gtk::Widget* widget :
         std::initializer_list<Gtk::Widget*>{icon, title, line, &m_password, &m_message, button})
        column->append(*widget);
    append(*column);

    m_lockConnection = m_model.appLock().signalChanged().connect([this](AppLockStore::Field) {
        showStatusLine(m_message, m_model.appLock().message(), m_model.appLock().messageIsError());
    });
}

LockScreen::~LockScreen() {
    m_lockConnection.disconnect();
}

void LockScreen::prepare() {
    m_password.set_text("");
    m_password.grab_focus();
}

void LockScreen::unlock() {
    if (m_model.unlockApplication(m_password.get_text()))
        m_password.set_text("");
}

} // namespace aurelo
