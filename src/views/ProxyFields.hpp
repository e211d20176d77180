#pragma once

// The proxy section of both account sheets: type, host and port, the host's error line, the
// proxy's login, and "测试代理" with the line that shows its result, bound to the account form.

#include "viewmodels/AccountFieldsForm.hpp"
#include "views/ChoicePicker.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/passwordentry.h>

namespace aurelo {

class ProxyFields : public Gtk::Box {
public:
    // What differs between the sheets: the fields' placeholders, the port field's width and the
    // note under the fields (the note on the proxy's scope follows it in both).
    struct Wording {
        Glib::ustring hostPlaceholder;
        Glib::ustring portPlaceholder;
        int portWidthChars;
        Glib::ustring note;
    };

    // `proxyType` is the sheet's picker (SessionPickers binds it); it is placed above the host.
    ProxyFields(AccountFieldsForm& form, ChoicePicker& proxyType, const Wording& wording);

    // Draws the form's proxy fields; what this writes into the fields is not sent back.
    void redraw();

    Gtk::Entry& hostField() { return m_host; }
    Gtk::Label& hostErrorLine() { return m_hostError; }
    Gtk::Entry& portField() { return m_port; }
    Gtk::Entry& usernameField() { return m_username; }
    Gtk::PasswordEntry& passwordField() { return m_password; }
    Gtk::Button& checkButton() { return m_check; }
    Gtk::Label& checkLine() { return m_checkLine; }

private:
    void bind(Gtk::Editable& entry, void (AccountFieldsForm::*setter)(std::string));

    AccountFieldsForm& m_form;
    Gtk::Entry m_host;
    Gtk::Entry m_port;
    Gtk::Label m_hostError;
    Gtk::Entry m_username;
    Gtk::PasswordEntry m_password;
    Gtk::Button m_check{"测试代理"};
    Gtk::Label m_checkLine;
    bool m_syncing = false;
};

} // namespace aurelo
