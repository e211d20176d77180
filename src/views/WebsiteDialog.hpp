#pragma once

#include "viewmodels/WebsiteForm.hpp"
#include "views/FormSheet.hpp"

#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>

namespace aurelo {

// "添加自定义网站": a name and an address, and the form's error line.
class WebsiteDialog : public FormSheet {
public:
    WebsiteDialog(WebsiteForm& form, Gtk::Window* parent);

    Gtk::Entry& nameField() { return m_name; }
    Gtk::Label& nameErrorLine() { return m_nameError; }
    Gtk::Entry& addressField() { return m_address; }
    Gtk::Label& errorLabel() { return m_error; }
    Gtk::Button& addButton() { return m_add; }

private:
    void redraw() override;
    // The form's own checks come after the account-name rule, which the form does not apply.
    void save();

    WebsiteForm& m_form;
    Gtk::Entry m_name;
    Gtk::Label m_nameError;
    Gtk::Entry m_address;
    Gtk::Label m_schemeNote;
    Gtk::Label m_error;
    Gtk::Button m_cancel{"取消"};
    Gtk::Button m_add{"添加"};
};

} // namespace aurelo
