#include "views/ProxyFields.hpp"

#include "views/FormSheet.hpp"
#include "views/SheetLayout.hpp"
#include "views/WidgetHelpers.hpp"

namespace aurelo {

ProxyFields::ProxyFields(AccountFieldsForm& form, ChoicePicker& proxyType, const Wording& wording)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 10), m_form(form) {
    append(*SheetLayout::labeled("代理类型", proxyType));

    m_host.set_placeholder_text(wording.hostPlaceholder);
    setAccessibleLabel(m_host, "代理主机");
    m_host.set_hexpand(true);
    m_port.set_placeholder_text(wording.portPlaceholder);
    setAccessibleLabel(m_port, "端口");
    m_port.set_width_chars(wording.portWidthChars);
    m_port.set_input_purpose(Gtk::InputPurpose::DIGITS);
    auto* address = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    address->append(m_host);
    address->append(m_port);
    append(*address);
    append(SheetLayout::errorLine(m_hostError));

    m_username.set_placeholder_text("代理用户名（无需登录的代理留空）");
    setAccessibleLabel(m_username, "代理用户名");
    m_username.set_hexpand(true);
    m_password.set_show_peek_icon(true);
    m_password.property_placeholder_text() = "代理密码";
    setAccessibleLabel(m_password, "代理密码");
    m_password.set_hexpand(true);
    auto* login = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    login->append(m_username);
    login->append(m_password);
    append(*login);

    // "测试代理" checks what is typed now, before anything is saved.
    m_checkLine.set_xalign(0);
    m_checkLine.set_wrap(true);
    m_checkLine.set_hexpand(true);
    m_checkLine.add_css_class("aurelo-subtitle");
    auto* checkRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    checkRow->append(m_check);
    checkRow->append(m_checkLine);
    append(*checkRow);
    m_check.signal_clicked().connect([this] { m_form.checkProxy(); });

    append(*SheetLayout::note(wording.note));
    append(*SheetLayout::note(std::string(AccountFieldsForm::kProxyScopeNote)));

    bind(m_host, &AccountFieldsForm::setProxyHost);
    bind(m_port, &AccountFieldsForm::setProxyPort);
    bind(m_username, &AccountFieldsForm::setProxyUsername);
    bind(m_password, &AccountFieldsForm::setProxyPassword);
}

void ProxyFields::bind(Gtk::Editable& entry, void (AccountFieldsForm::*setter)(std::string)) {
    entry.signal_changed().connect([this, &entry, setter] {
        if (!m_syncing)
            (m_form.*setter)(entry.get_text());
    });
}

void ProxyFields::redraw() {
    m_syncing = true;
    FormSheet::showText(m_host, m_form.proxyHost());
    SheetLayout::showFieldError(m_hostError, m_host, m_form.proxyHostError());
    FormSheet::showText(m_port, m_form.proxyPort());
    FormSheet::showText(m_username, m_form.proxyUsername());
    FormSheet::showText(m_password, m_form.proxyPassword());
    m_checkLine.set_text(m_form.proxyCheckLine());
    m_checkLine.set_visible(!m_form.proxyCheckLine().empty());
    m_check.set_sensitive(!m_form.checkingProxy());
    m_syncing = false;
}

} // namespace aurelo
