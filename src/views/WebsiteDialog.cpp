#include "views/WebsiteDialog.hpp"

#include "views/SheetLayout.hpp"
#include "views/WidgetHelpers.hpp"

namespace aurelo {

WebsiteDialog::WebsiteDialog(SessionFormModel& form, Gtk::Window* parent) : m_form(form) {
    configureSheet(*this, parent, "添加自定义网站");
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    column->set_margin(22);
    column->set_size_request(400, -1);
    auto* heading = Gtk::make_managed<Gtk::Label>("添加自定义网站");
    heading->add_css_class("aurelo-title");
    heading->set_xalign(0);
    column->append(*heading);

    m_name.set_placeholder_text("网站名称，例如：Messenger");
    setAccessibleLabel(m_name, "网站名称");
    m_address.set_placeholder_text(Glib::ustring("网站地址，例如：") + kExampleAddress);
    setAccessibleLabel(m_address, "网站地址");
    m_address.set_input_purpose(Gtk::InputPurpose::URL);
    column->append(m_name);
    column->append(m_address);
    column->append(*SheetLayout::note("网站将使用独立的登录会话，登录信息保存在本机。"));
    m_error.add_css_class("aurelo-error");
    m_error.set_xalign(0);
    m_error.set_wrap(true);
    column->append(m_error);

    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    buttons->set_halign(Gtk::Align::END);
    buttons->set_margin_top(8);
    m_add.add_css_class("aurelo-primary");
    buttons->append(m_cancel);
    buttons->append(m_add);
    column->append(*buttons);
    set_child(*column);

    m_name.signal_changed().connect([this] {
        if (!m_syncing)
            m_form.setWebsiteName(m_name.get_text());
    });
    m_address.signal_changed().connect([this] {
        if (!m_syncing)
            m_form.setWebsiteAddress(m_address.get_text());
    });
    m_address.signal_activate().connect([this] { m_form.saveWebsite(); });
    m_cancel.signal_clicked().connect([this] { m_form.setShowingAddWebsite(false); });
    m_add.signal_clicked().connect([this] { m_form.saveWebsite(); });

    signal_hide().connect([this] { m_form.setShowingAddWebsite(false); });
    m_formConnection = m_form.signalChanged().connect([this](SessionFormModel::Field field) {
        if (field == SessionFormModel::Field::ShowingAddWebsite)
            syncVisibility();
        else
            refresh();
    });
    refresh();
}

WebsiteDialog::~WebsiteDialog() {
    m_formConnection.disconnect();
}

void WebsiteDialog::syncVisibility() {
    if (m_form.showingAddWebsite()) {
        refresh();
        present();
        m_name.grab_focus();
    } else if (get_visible()) {
        hide();
    }
}

void WebsiteDialog::refresh() {
    m_syncing = true;
    if (m_name.get_text() != Glib::ustring(m_form.websiteName()))
        m_name.set_text(m_form.websiteName());
    if (m_address.get_text() != Glib::ustring(m_form.websiteAddress()))
        m_address.set_text(m_form.websiteAddress());
    m_error.set_text(m_form.websiteError());
    m_error.set_visible(!m_form.websiteError().empty());
    m_syncing = false;
}

} // namespace aurelo
