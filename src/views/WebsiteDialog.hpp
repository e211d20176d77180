#pragma once

#include "views/FormSheet.hpp"

#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>

namespace aurelo {

// "添加自定义网站": a name and an address, and the form model's error line. Shown while
// `showingAddWebsite` is set; closing it any way clears that flag.
class WebsiteDialog : public FormSheet {
public:
    // The example in the address field's placeholder.
    static constexpr const char* kExampleAddress = "https://chat.example.com";

    WebsiteDialog(SessionFormModel& form, Gtk::Window* parent);

    Gtk::Entry& nameField() { return m_name; }
    Gtk::Entry& addressField() { return m_address; }
    Gtk::Label& errorLabel() { return m_error; }
    Gtk::Button& addButton() { return m_add; }

private:
    void redraw() override;

    Gtk::Entry m_name;
    Gtk::Entry m_address;
    Gtk::Label m_error;
    Gtk::Button m_cancel{"取消"};
    Gtk::Button m_add{"添加"};
};

} // namespace aurelo
