#include "app/LoginView.hpp"

#include "platform/BuildConfig.hpp"

#include "views/WidgetHelpers.hpp"

#include <gtkmm/image.h>

namespace aurelo {

LoginView::LoginView(AccountStore& account)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 20), m_account(account) {
    add_css_class("aurelo-login-background");
    set_hexpand(true);
    set_vexpand(true);
    set_valign(Gtk::Align::FILL);

    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 20);
    column->set_halign(Gtk::Align::CENTER);
    column->set_valign(Gtk::Align::CENTER);
    column->set_vexpand(true);

    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name(build::kApplicationId);
    icon->set_pixel_size(86);
    auto* title = Gtk::make_managed<Gtk::Label>();
    title->set_markup("<span size='xx-large' weight='bold'>欢迎使用Aurelo翻译器</span>");
    auto* subtitle = Gtk::make_managed<Gtk::Label>("请输入管理员为你创建的软件账号");
    subtitle->add_css_class("dim-label");

    auto* card = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    card->add_css_class("aurelo-login-card");
    card->set_size_request(420, -1);
    card->set_halign(Gtk::Align::CENTER);
    m_username.set_placeholder_text("账号");
    setAccessibleLabel(m_username, Glib::ustring("账号"));
    m_password.set_property("placeholder-text", Glib::ustring("密码"));
    m_password.set_show_peek_icon(true);
    setAccessibleLabel(m_password, Glib::ustring("密码"));
    m_error.add_css_class("aurelo-error");
    m_error.set_wrap(true);
    m_error.set_xalign(0);
    auto* buttonContent = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    buttonContent->set_halign(Gtk::Align::CENTER);
    buttonContent->append(m_spinner);
    buttonContent->append(m_buttonLabel);
    m_button.set_child(*buttonContent);
    m_button.add_css_class("aurelo-primary");
    m_button.add_css_class("suggested-action");
    m_button.set_size_request(-1, 40);
    setAccessibleLabel(m_button, Glib::ustring("登录"));
    card->append(m_username);
    card->append(m_password);
    card->append(m_error);
    card->append(m_button);

    auto* note = Gtk::make_managed<Gtk::Label>("没有注册入口 · 账号仅由管理员创建");
    note->add_css_class("aurelo-note");

    for (Gtk::Widget* widget : std::initializer_list<Gtk::Widget*>{icon, title, subtitle, card, note})
        column->append(*widget);
    append(*column);

    m_username.signal_changed().connect([this] { refresh(); });
    m_password.signal_changed().connect([this] { refresh(); });
    m_username.signal_activate().connect([this] { m_password.grab_focus(); });
    // Return in the password field submits whatever the fields hold.
    onPasswordActivate(m_password, [this] { submit(); });
    m_button.signal_clicked().connect([this] { submit(); });
    m_accountConnection = m_account.signalChanged().connect([this](AccountStore::Field) { refresh(); });
    refresh();
}

LoginView::~LoginView() { m_accountConnection.disconnect(); }

void LoginView::submit() {
    m_account.login(m_username.get_text(), m_password.get_text());
}

void LoginView::refresh() {
    m_button.set_sensitive(
        AccountStore::loginButtonEnabled(m_username.get_text(), m_password.get_text(),
                                         m_account.isWorking()));
    m_spinner.set_visible(m_account.isWorking());
    m_spinner.set_spinning(m_account.isWorking());
    m_buttonLabel.set_visible(!m_account.isWorking());
    m_error.set_text(m_account.errorMessage());
    m_error.set_visible(!m_account.errorMessage().empty());
}

} // namespace aurelo
