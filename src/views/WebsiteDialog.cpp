#include "views/WebsiteDialog.hpp"

#include "models/AccountName.hpp"
#include "views/SheetLayout.hpp"
#include "views/WidgetHelpers.hpp"

namespace aurelo {

WebsiteDialog::WebsiteDialog(WebsiteForm& form, Gtk::Window* parent)
    : FormSheet(form, parent, "添加自定义网站"), m_form(form) {
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    column->set_margin(22);
    column->set_size_request(400, -1);
    auto* heading = Gtk::make_managed<Gtk::Label>("添加自定义网站");
    heading->add_css_class("aurelo-title");
    heading->set_xalign(0);
    column->append(*heading);

    m_name.set_placeholder_text("网站名称，例如：Messenger");
    setAccessibleLabel(m_name, "网站名称");
    column->append(m_name);
    column->append(SheetLayout::errorLine(m_nameError));
    column->append(*SheetLayout::websiteAddress(m_address, m_schemeNote));
    column->append(*SheetLayout::note("网站将使用独立的登录会话，登录信息保存在本机。"));
    column->append(SheetLayout::errorLine(m_error));
    column->append(*SheetLayout::buttonRow(m_cancel, m_add));
    set_child(*column);

    bindEntry(m_name, m_form, &WebsiteForm::setName);
    bindEntry(m_address, m_form, &WebsiteForm::setAddress);
    m_address.signal_activate().connect([this] { save(); });
    m_cancel.signal_clicked().connect([this] { dismiss(); });
    m_add.signal_clicked().connect([this] { save(); });

    followForm(m_name);
}

void WebsiteDialog::save() {
    if (AccountName::problemWhileTyping(m_form.name()).empty())
        m_form.save();
}

void WebsiteDialog::redraw() {
    showText(m_name, m_form.name());
    SheetLayout::showFieldError(m_nameError, m_name,
                                AccountName::problemWhileTyping(m_form.name()));
    showText(m_address, m_form.address());
    SheetLayout::showError(m_schemeNote, m_form.addressNote());
    SheetLayout::showError(m_error, m_form.error());
}

} // namespace aurelo
